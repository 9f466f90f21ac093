#include "DevPanelGroup.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <algorithm>

#include "FormFont.h"
#include "RightAnchors.h"

namespace updater {

namespace {

// Inside the group box's frame, which takes 2 pixels on the left, right and bottom.
constexpr int kFrame = 2;
constexpr int kBarMargin = 3;
constexpr int kBarHeight = 20;
// The boot-loader title sits 235 pixels from the right edge of the device area, but never left
// of 423, where it would run into the firmware version.
constexpr int kLoaderFromRight = 235;
constexpr int kLoaderMinLeft = 423;
constexpr int kLoaderValueOffset = 146;
// Where a value is too long for the room the form gives it, the texts to its right move along,
// keeping these gaps: after a caption, and after a value. The boot-loader value then keeps
// kRightRoom to the box's right edge; when even the area's width is too little for that, the
// box needs more width than the area has and the area scrolls sideways.
constexpr int kCaptionGap = 2;
constexpr int kValueGap = 8;
constexpr int kRightRoom = 2;

// The device area stacks its panels in a vertical layout: margins of 3 around each panel (so 6
// between two), and a stretch at the end that keeps them at the top. The area's own layout is
// taken over when it has one.
void AppendToStack(QWidget* dev_area, QGroupBox* panel) {
  auto* stack = qobject_cast<QVBoxLayout*>(dev_area->layout());
  if (stack == nullptr) {
    stack = new QVBoxLayout(dev_area);
  }
  stack->setContentsMargins(kDevPanelMargin, kDevPanelMargin, kDevPanelMargin, kDevPanelMargin);
  stack->setSpacing(2 * kDevPanelMargin);
  const int count = stack->count();
  if (count == 0 || stack->itemAt(count - 1)->spacerItem() == nullptr) {
    stack->addStretch(1);
  }
  stack->insertWidget(stack->count() - 1, panel);
}

QRect BarGeometry(const QSize& box) {
  return {kFrame + kBarMargin, box.height() - kFrame - kBarMargin - kBarHeight,
          box.width() - 2 * (kFrame + kBarMargin), kBarHeight};
}

// A label of the top row: plain text in the embedded face, as wide as its text, at a fixed
// height.
void Place(QLabel* label, int left, int top, int height, int pixels, bool bold,
           const QString& text) {
  label->setTextFormat(Qt::PlainText);
  label->setFont(FormFont(pixels, bold));
  label->setText(text);
  label->move(left, top);
  label->resize(label->sizeHint().width(), height);
}

// One past the label's last column.
int RightOf(const QLabel* label) {
  return label->x() + label->width();
}

}  // namespace

TFWLoaderDevGroup::TFWLoaderDevGroup(QWidget* dev_area, int requested_top,
                                     const std::string& serial, const std::string& firmware,
                                     const std::string& loader)
    : requested_top_(requested_top) {
  gbDevice = new QGroupBox();
  lblSerialTitle = new QLabel(gbDevice);
  lblSerial = new QLabel(gbDevice);
  lblFirmwareTitle = new QLabel(gbDevice);
  lblFirmware = new QLabel(gbDevice);
  lblLoaderTitle = new QLabel(gbDevice);
  lblLoader = new QLabel(gbDevice);
  lblMessage = new QLabel(gbDevice);
  btnWrite = new QPushButton(gbDevice);
  gbDevice->setParent(dev_area);
  pbWrite = new QProgressBar(gbDevice);

  gbDevice->setTitle(QString::fromUtf8("Прибор") + QString::fromStdString(serial));
  gbDevice->setFont(FormFont(kWindowFontPx));

  // The top row first: the box's width depends on how much room its texts need.
  const int area_width = dev_area->width();
  Place(lblSerialTitle, 4, 16, 19, kCaptionFontPx, false, QString::fromUtf8("Серийный номер:"));
  Place(lblSerial, std::max(138, RightOf(lblSerialTitle) + kCaptionGap), 19, 16, kValueFontPx, true,
        QString::fromStdString(serial));
  Place(lblFirmwareTitle, std::max(209, RightOf(lblSerial) + kValueGap), 16, 19, kCaptionFontPx,
        false, QString::fromUtf8("Версия прошивки:"));
  Place(lblFirmware, std::max(347, RightOf(lblFirmwareTitle) + kCaptionGap), 19, 16, kValueFontPx,
        true, QString::fromStdString(firmware));
  const int loader_left =
      std::max({area_width - kLoaderFromRight, kLoaderMinLeft, RightOf(lblFirmware) + kValueGap});
  Place(lblLoaderTitle, loader_left, 16, 19, kCaptionFontPx, false,
        QString::fromUtf8("Версия загрузчика:"));
  Place(lblLoader,
        std::max(loader_left + kLoaderValueOffset, RightOf(lblLoaderTitle) + kCaptionGap), 19, 16,
        kValueFontPx, true, QString::fromStdString(loader));

  // The box's final width, before anything is placed relative to it. The area's layout keeps
  // it at least wide enough for the top row.
  const int box_min_width = RightOf(lblLoader) + kRightRoom + kFrame;
  gbDevice->setMinimumWidth(box_min_width);
  gbDevice->setFixedHeight(kDevPanelHeight);
  gbDevice->setGeometry(kDevPanelMargin, kDevPanelMargin,
                        std::max(area_width - 2 * kDevPanelMargin, box_min_width), kDevPanelHeight);
  AppendToStack(dev_area, gbDevice);

  pbWrite->setRange(0, 100);
  pbWrite->setValue(0);
  pbWrite->setGeometry(BarGeometry(gbDevice->size()));

  // One pixel beyond the bar's right edge.
  btnWrite->setGeometry(pbWrite->x() + pbWrite->width() - 99, 37, 100, 25);
  btnWrite->setText(QString::fromUtf8("Прошить"));
  btnWrite->setEnabled(false);

  lblMessage->setTextFormat(Qt::PlainText);
  lblMessage->setGeometry(pbWrite->x(), 38, btnWrite->x() - 4, 20);
  lblMessage->setAlignment(Qt::AlignCenter);
  lblMessage->setFont(FormFont(kCaptionFontPx, true));
  lblMessage->setText(QString::fromUtf8("Прибор подключен"));

  // From here on the boot-loader labels and the button keep their distance to the right edge,
  // the status line and the bar stretch with the box.
  auto* anchors = new TRightAnchors(gbDevice, gbDevice->width());
  anchors->Follow(lblLoaderTitle);
  anchors->Follow(lblLoader);
  anchors->Follow(btnWrite);
  anchors->Stretch(lblMessage);
  anchors->Stretch(pbWrite);
  box_alive_ = gbDevice;
  gbDevice->show();
}

TFWLoaderDevGroup::~TFWLoaderDevGroup() {
  if (box_alive_.isNull()) {
    return;
  }
  // Out of the device area first, so the panels below move up; the status line goes with the
  // group box.
  gbDevice->setParent(nullptr);
  QLabel* const values[] = {lblSerialTitle, lblSerial,      lblFirmwareTitle,
                            lblFirmware,    lblLoaderTitle, lblLoader};
  for (QLabel* label : values) {
    label->setParent(nullptr);
  }
  for (QLabel* label : values) {
    delete label;
  }
  delete pbWrite;
  delete btnWrite;
  delete gbDevice;
}

void ShowDevMessage(TFWLoaderDevGroup& panel, const std::string& text, int kind) {
  QLabel* message = panel.lblMessage;
  message->setText(QString::fromStdString(text));
  QPalette palette = message->palette();
  QColor colour = QPalette().color(QPalette::WindowText);
  if (kind == 1) {
    colour = QColor(255, 0, 0);
  } else if (kind == 2) {
    colour = QColor(0, 128, 0);
  }
  palette.setColor(QPalette::WindowText, colour);
  message->setPalette(palette);
}

}  // namespace updater
