// The device panel in a bare device area, offscreen: where its controls sit, how they follow
// the area's width, how panels stack and close up, and the status line's colours.

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <memory>

#include "DevEntry.h"
#include "DevPanelGroup.h"

namespace {

using updater::TDevEntry;
using updater::TFWLoaderDevGroup;

class PanelGeometry : public testing::Test {
 protected:
  void SetUp() override {
    // Like the main window's device area: a vertical layout without margins or spacing.
    auto* layout = new QVBoxLayout(&area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    area.resize(600, 400);
    area.show();
  }
  // A device's panel, as the window makes it for a listed device.
  std::unique_ptr<TFWLoaderDevGroup> Device(const char* serial, int requested_top) {
    auto dev =
        std::make_unique<TFWLoaderDevGroup>(&area, requested_top, serial, "ROZI-1.16", "BOOT-1.5");
    Settle();
    return dev;
  }
  void Settle() {
    if (area.layout() != nullptr) {
      area.layout()->activate();
    }
    QApplication::processEvents();
  }
  static TFWLoaderDevGroup& Panel(const std::unique_ptr<TFWLoaderDevGroup>& dev) { return *dev; }

  QWidget area;
};

TEST_F(PanelGeometry, LoaderLabelsFollowTheAreaWidthButNeverLeftOf423) {
  struct Case {
    int width;
    int title;
  };
  for (const Case c :
       {Case{600, 423}, Case{657, 423}, Case{658, 423}, Case{659, 424}, Case{900, 665}}) {
    area.resize(c.width, 400);
    Settle();
    auto dev = Device("7", 80);
    EXPECT_EQ(Panel(dev).lblLoaderTitle->x(), c.title) << c.width;
    EXPECT_EQ(Panel(dev).lblLoader->x(), c.title + 146) << c.width;
  }
}

TEST_F(PanelGeometry, ControlsOfOnePanel) {
  area.resize(700, 400);
  Settle();
  auto dev = Device("123", 80);
  const TFWLoaderDevGroup& p = Panel(dev);
  EXPECT_EQ(p.gbDevice->geometry(), QRect(3, 3, 694, 90));
  EXPECT_EQ(p.gbDevice->title(), QString::fromUtf8("Прибор123"));
  EXPECT_EQ(p.lblSerialTitle->pos(), QPoint(4, 16));
  EXPECT_EQ(p.lblSerial->pos(), QPoint(138, 19));
  EXPECT_EQ(p.lblSerial->text(), "123");
  EXPECT_EQ(p.lblFirmwareTitle->pos(), QPoint(209, 16));
  EXPECT_EQ(p.lblFirmware->pos(), QPoint(347, 19));
  EXPECT_EQ(p.lblFirmware->text(), "ROZI-1.16");
  EXPECT_EQ(p.lblLoader->text(), "BOOT-1.5");
  EXPECT_EQ(p.lblSerialTitle->height(), 19);
  EXPECT_EQ(p.lblSerial->height(), 16);
  EXPECT_TRUE(p.lblSerial->font().bold());
  EXPECT_FALSE(p.lblSerialTitle->font().bold());
  EXPECT_EQ(p.lblSerialTitle->font().pixelSize(), 16);
  EXPECT_EQ(p.lblSerial->font().pixelSize(), 13);
  // The bar lies along the bottom; the button ends one pixel beyond it.
  EXPECT_EQ(p.pbWrite->height(), 20);
  EXPECT_EQ(p.pbWrite->y() + p.pbWrite->height() + 3 + 2, 90);
  EXPECT_EQ(p.btnWrite->x() + p.btnWrite->width(), p.pbWrite->x() + p.pbWrite->width() + 1);
  EXPECT_EQ(p.btnWrite->geometry().top(), 37);
  EXPECT_EQ(p.btnWrite->size(), QSize(100, 25));
  EXPECT_EQ(p.btnWrite->text(), QString::fromUtf8("Прошить"));
  EXPECT_FALSE(p.btnWrite->isEnabled());
  EXPECT_EQ(p.lblMessage->geometry(), QRect(p.pbWrite->x(), 38, p.btnWrite->x() - 4, 20));
  EXPECT_EQ(p.lblMessage->text(), QString::fromUtf8("Прибор подключен"));
  EXPECT_EQ(p.lblMessage->alignment(), Qt::AlignCenter);
  EXPECT_EQ(p.pbWrite->minimum(), 0);
  EXPECT_EQ(p.pbWrite->maximum(), 100);
  EXPECT_EQ(p.pbWrite->value(), 0);
}

TEST_F(PanelGeometry, RightAnchoredControlsKeepTheirDistanceWhenTheAreaWidens) {
  auto dev = Device("5", 80);
  const TFWLoaderDevGroup& p = Panel(dev);
  const QRect title = p.lblLoaderTitle->geometry(), value = p.lblLoader->geometry(),
              button = p.btnWrite->geometry(), message = p.lblMessage->geometry(),
              serial = p.lblSerial->geometry(), firmware = p.lblFirmware->geometry(),
              box = p.gbDevice->geometry(), bar = p.pbWrite->geometry();
  area.resize(area.width() + 200, area.height());
  Settle();
  EXPECT_EQ(p.lblLoaderTitle->geometry(), title.translated(200, 0));
  EXPECT_EQ(p.lblLoader->geometry(), value.translated(200, 0));
  EXPECT_EQ(p.btnWrite->geometry(), button.translated(200, 0));
  EXPECT_EQ(p.lblMessage->geometry(), message.adjusted(0, 0, 200, 0));
  EXPECT_EQ(p.lblSerial->geometry(), serial);
  EXPECT_EQ(p.lblFirmware->geometry(), firmware);
  EXPECT_EQ(p.gbDevice->geometry(), box.adjusted(0, 0, 200, 0));
  EXPECT_EQ(p.pbWrite->geometry(), bar.adjusted(0, 0, 200, 0));
}

TEST_F(PanelGeometry, PanelsStack96ApartAndCloseUpWhenOneGoes) {
  auto first = Device("1", 80);
  auto second = Device("2", 160);
  auto third = Device("3", 240);
  EXPECT_EQ(Panel(first).gbDevice->y(), 3);
  EXPECT_EQ(Panel(second).gbDevice->y(), 99);
  EXPECT_EQ(Panel(third).gbDevice->y(), 195);
  EXPECT_EQ(Panel(second).RequestedTop(), 160);

  second.reset();
  Settle();
  EXPECT_EQ(Panel(first).gbDevice->y(), 3);
  EXPECT_EQ(Panel(third).gbDevice->y(), 99);
}

TEST_F(PanelGeometry, DestroyingTheRecordTakesAllTenControls) {
  auto dev = Device("9", 80);
  const TFWLoaderDevGroup& p = Panel(dev);
  const QList<QPointer<QWidget>> controls = {
      p.gbDevice,       p.lblSerialTitle, p.lblSerial,  p.lblFirmwareTitle, p.lblFirmware,
      p.lblLoaderTitle, p.lblLoader,      p.lblMessage, p.btnWrite,         p.pbWrite};
  dev.reset();
  for (const auto& control : controls) {
    EXPECT_TRUE(control.isNull());
  }
  EXPECT_TRUE(area.findChildren<QGroupBox*>().isEmpty());
}

TEST_F(PanelGeometry, PanelOutlivingItsDeviceAreaDeletesNothingTwice) {
  auto area_first = std::make_unique<QWidget>();
  area_first->resize(600, 300);
  auto dev = std::make_unique<TFWLoaderDevGroup>(area_first.get(), 80, "8", "", "");
  area_first.reset();  // takes the group box and its controls with it
  dev.reset();         // must not touch them again
  SUCCEED();
}

TEST_F(PanelGeometry, StatusLineColoursByKind) {
  auto dev = Device("4", 80);
  const QColor window_text = QPalette().color(QPalette::WindowText);
  struct Case {
    int kind;
    QColor colour;
  };
  for (const Case c : {Case{1, QColor(255, 0, 0)}, Case{2, QColor(0, 128, 0)}, Case{0, window_text},
                       Case{3, window_text}}) {
    updater::ShowDevMessage(*dev, "Отключите прибор и подключите заново.", c.kind);
    EXPECT_EQ(Panel(dev).lblMessage->palette().color(QPalette::WindowText), c.colour) << c.kind;
    EXPECT_EQ(Panel(dev).lblMessage->text(),
              QString::fromUtf8("Отключите прибор и подключите заново."));
  }
}

}  // namespace
