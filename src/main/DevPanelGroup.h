#pragma once
// The panel of one connected device in the main window's device area: serial number, firmware
// and boot-loader versions, a status line, its write button and progress bar. Panels stack from
// the top of the device area, 96 pixels each, in the order the devices were added.
//
// Main thread only. The device record owns the panel; the panel creates its ten controls and
// destroys them itself, in a fixed order, when the record goes.

#include <QGroupBox>
#include <QPointer>
#include <string>

#include "DevEntry.h"
#include "DevPanel.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

namespace updater {

// Height of one panel's group box and the margin around it; a panel takes 96 pixels.
inline constexpr int kDevPanelHeight = 90;
inline constexpr int kDevPanelMargin = 3;
inline constexpr int kDevPanelPitch = kDevPanelHeight + 2 * kDevPanelMargin;
// Minimum height of the device area when it holds no panel.
inline constexpr int kEmptyDevAreaHeight = 90;

class TFWLoaderDevGroup : public TDevPanel {
 public:
  // dev_area is the main window's device area (DevPanel). requested_top is kept for the record
  // only: a new panel always goes below the existing ones.
  TFWLoaderDevGroup(QWidget* dev_area, int requested_top, const std::string& serial,
                    const std::string& firmware, const std::string& loader);
  ~TFWLoaderDevGroup() override;

  int RequestedTop() const { return requested_top_; }

  QGroupBox* gbDevice;
  QLabel* lblSerialTitle;
  QLabel* lblSerial;
  QLabel* lblFirmwareTitle;
  QLabel* lblFirmware;
  QLabel* lblLoaderTitle;
  QLabel* lblLoader;
  QLabel* lblMessage;
  QPushButton* btnWrite;
  QProgressBar* pbWrite;

 private:
  int requested_top_;
  // Null once the device area took the group box down with it (its window was destroyed
  // first); the controls are then gone already.
  QPointer<QGroupBox> box_alive_;
};

// The panel of a device record, or null when it has none.
TFWLoaderDevGroup* PanelOf(const TDevEntry& dev);

// Sets the status line of a device's panel: kind 1 red, 2 green, anything else the window-text
// colour. A record without a panel is left alone.
void ShowDevMessage(const TDevEntry& dev, const std::string& text, int kind);

}  // namespace updater
