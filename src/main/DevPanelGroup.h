#pragma once
// The panel of one connected device in the main window's device area: serial number, firmware
// and boot-loader versions, a status line, its write button and progress bar. Panels stack from
// the top of the device area, 96 pixels each, in the order the devices were added.
//
// Main thread only. The main window owns the panels, one per listed device, by the device's Id;
// a panel creates its ten controls and destroys them itself, in a fixed order, when it goes.

#include <QGroupBox>
#include <QPointer>
#include <string>

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

class TFWLoaderDevGroup {
 public:
  // dev_area is the main window's device area (DevPanel). requested_top is kept for the record
  // only: a new panel always goes below the existing ones.
  TFWLoaderDevGroup(QWidget* dev_area, int requested_top, const std::string& serial,
                    const std::string& firmware, const std::string& loader);
  ~TFWLoaderDevGroup();
  TFWLoaderDevGroup(const TFWLoaderDevGroup&) = delete;
  TFWLoaderDevGroup& operator=(const TFWLoaderDevGroup&) = delete;

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

// Sets the status line of a panel: kind 1 red, 2 green, anything else the window-text colour.
void ShowDevMessage(TFWLoaderDevGroup& panel, const std::string& text, int kind);

}  // namespace updater
