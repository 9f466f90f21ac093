#include "FormFont.h"

#include <QFontDatabase>
#include <QStringList>
#include <QWidget>
#include <cmath>
#include <cstdio>

namespace updater {

namespace {

constexpr char kFallbackFamily[] = "Liberation Sans";
constexpr const char* kFaces[] = {":/fonts/LiberationSans-Regular.ttf",
                                  ":/fonts/LiberationSans-Bold.ttf"};

QString RegisterFaces() {
  QString family;
  for (const char* face : kFaces) {
    const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(face));
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (id < 0 || families.isEmpty()) {
      std::fprintf(stderr, "font: cannot register %s\n", face);
      continue;
    }
    family = families.front();
  }
  return family.isEmpty() ? QString::fromLatin1(kFallbackFamily) : family;
}

}  // namespace

QString FormFontFamily() {
  static const QString family = RegisterFaces();
  return family;
}

QFont FormFont(int pixels, bool bold) {
  QFont font(FormFontFamily());
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

void UseFormFont(QWidget* root) {
  QList<QWidget*> widgets = root->findChildren<QWidget*>();
  widgets.prepend(root);
  for (QWidget* widget : widgets) {
    if (!widget->testAttribute(Qt::WA_SetFont)) {
      continue;  // inherits its parent's
    }
    QFont font = widget->font();
    font.setFamily(FormFontFamily());
    if (font.pointSizeF() > 0) {
      font.setPixelSize(static_cast<int>(std::lround(font.pointSizeF() * 96.0 / 72.0)));
    }
    widget->setFont(font);
  }
}

}  // namespace updater
