#include "Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

namespace updater {

namespace {

class TQtDialogs : public TDialogs {
 public:
  void Error(const QString& text) override {
    QMessageBox::critical(nullptr, QString::fromUtf8(kErrorCaption), text);
  }

  QString OpenFileName(QWidget* parent, const QString& directory, const QString& filter) override {
    return QFileDialog::getOpenFileName(parent, QString(), directory, filter);
  }
};

// Nobody is there to press OK: the box is reported on stderr and counts as answered.
class TStderrDialogs : public TDialogs {
 public:
  void Error(const QString& text) override {
    const QByteArray line =
        (QString::fromUtf8(kErrorCaption) + QStringLiteral(": ") + text + QLatin1Char('\n'))
            .toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
  }

  QString OpenFileName(QWidget*, const QString&, const QString&) override { return {}; }
};

}  // namespace

TDialogs& DefaultDialogs() {
  static TQtDialogs qt_dialogs;
  static TStderrDialogs stderr_dialogs;
  const char* choice = std::getenv("UPDATER_DIALOGS_TO_STDERR");
  if (choice != nullptr && *choice != '\0') {
    return stderr_dialogs;
  }
  return qt_dialogs;
}

}  // namespace updater
