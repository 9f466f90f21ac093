#include "DevPanelGroup.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <algorithm>

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

void SetFont(QLabel* label, int points, bool bold) {
  QFont font = label->font();
  font.setPointSize(points);
  font.setBold(bold);
  label->setFont(font);
}

// A label that fits its text, at a fixed height.
void Place(QLabel* label, int left, int top, int height, const QString& text) {
  label->setText(text);
  label->move(left, top);
  label->resize(label->sizeHint().width(), height);
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

  const int area_width = dev_area->width();
  const int loader_left = std::max(area_width - kLoaderFromRight, kLoaderMinLeft);

  gbDevice->setTitle(QString::fromUtf8("Прибор") + QString::fromStdString(serial));
  gbDevice->setFixedHeight(kDevPanelHeight);
  // The box's final width, before anything is placed relative to it.
  gbDevice->setGeometry(kDevPanelMargin, kDevPanelMargin, area_width - 2 * kDevPanelMargin,
                        kDevPanelHeight);
  AppendToStack(dev_area, gbDevice);

  pbWrite->setRange(0, 100);
  pbWrite->setValue(0);
  pbWrite->setGeometry(BarGeometry(gbDevice->size()));

  SetFont(lblSerialTitle, 12, false);
  SetFont(lblFirmwareTitle, 12, false);
  SetFont(lblLoaderTitle, 12, false);
  SetFont(lblSerial, 10, true);
  SetFont(lblFirmware, 10, true);
  SetFont(lblLoader, 10, true);
  Place(lblSerialTitle, 4, 16, 19, QString::fromUtf8("Серийный номер:"));
  Place(lblSerial, 138, 19, 16, QString::fromStdString(serial));
  Place(lblFirmwareTitle, 209, 16, 19, QString::fromUtf8("Версия прошивки:"));
  Place(lblFirmware, 347, 19, 16, QString::fromStdString(firmware));
  Place(lblLoaderTitle, loader_left, 16, 19, QString::fromUtf8("Версия загрузчика:"));
  Place(lblLoader, loader_left + kLoaderValueOffset, 19, 16, QString::fromStdString(loader));

  // One pixel beyond the bar's right edge.
  btnWrite->setGeometry(pbWrite->x() + pbWrite->width() - 99, 37, 100, 25);
  btnWrite->setText(QString::fromUtf8("Прошить"));
  btnWrite->setEnabled(false);

  lblMessage->setGeometry(pbWrite->x(), 38, btnWrite->x() - 4, 20);
  lblMessage->setAlignment(Qt::AlignCenter);
  SetFont(lblMessage, 12, true);
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

TFWLoaderDevGroup* PanelOf(const TDevEntry& dev) {
  return dynamic_cast<TFWLoaderDevGroup*>(dev.Panel.get());
}

void ShowDevMessage(const TDevEntry& dev, const std::string& text, int kind) {
  TFWLoaderDevGroup* panel = PanelOf(dev);
  if (panel == nullptr) {
    return;
  }
  QLabel* message = panel->lblMessage;
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
