#pragma once
// The real main window, shown offscreen over both real driver libraries, against virtual
// trackers served in-process (discovery's TrackerRig): what the job-control tests share.

#include <QColor>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DevPanelGroup.h"
#include "Dialogs.h"
#include "MainForm.h"
#include "TrackerConfig.h"
#include "TrackerHost.h"
#include "tracker_images.h"

namespace jobtest {

// Serves the event loop until pred holds; false when it never did within timeout_ms.
bool Eventually(const std::function<bool()>& pred, int timeout_ms = 120000);

class NoDialogs : public updater::TDialogs {
 public:
  void Error(const QString& text) override {
    errors << text;
    if (while_open) {
      while_open();
    }
  }
  QString OpenFileName(QWidget*, const QString&, const QString&) override { return {}; }
  QStringList errors;
  // Run inside each box, as a real box runs the event loop while it waits.
  std::function<void()> while_open;
};

// Devices the window holds open through either library right now; the loaders below count
// every open and close that succeeds.
int OpenDevices();

// libZIZUZ from beside the test, the stand-in D2XX from d2xx-sim/, both counting their opens.
updater::TLibraryLoaders CountingLoaders();

using tracker_images::BootTracker;
using tracker_images::EmbeddedPayload;
using tracker_images::ExpectedFlash;

// The main window, shown; automatic flashing as asked (set before its first scan). args: its
// command line; while_box_open: what each box does while it is open.
class Window {
 public:
  explicit Window(bool auto_write, std::vector<std::string> args = {},
                  std::function<void()> while_box_open = {});
  ~Window();  // closes it, unless a test did already
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  updater::TMainForm& Form() { return *form_; }
  // Destroys the window now: its whole shutdown sequence.
  void Close();

  updater::TDevEntry* Device(int32_t serial) const;
  updater::TFWLoaderDevGroup* Panel(int32_t serial) const;
  // No scan runs and none is due.
  bool Idle() const;
  // The devices are listed, no job runs and no scan is busy.
  bool Settled(size_t devices) const;

  QStringList LogLines() const;
  QColor LastLineColour() const;

  NoDialogs dialogs;

 private:
  std::unique_ptr<updater::TMainForm> form_;
};

}  // namespace jobtest
