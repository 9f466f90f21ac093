// The scan inside the real main window, offscreen: started by its device timer, told of device
// changes by the hot-plug source watching the directory virtual trackers are published in, and
// merged into its device area.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "DevPanelGroup.h"
#include "Dialogs.h"
#include "MainForm.h"
#include "fake_libraries.h"
#include "form_controls.h"
#include "scan_rig.h"

namespace discovery_test {
namespace {

using namespace updater;
using updater::sim::DriverKind;
using updater::sim::TrackerMode;

// Serves the event loop until pred holds; false when it never did.
bool Eventually(const std::function<bool()>& pred) {
  QElapsedTimer timer;
  timer.start();
  while (!pred()) {
    if (timer.elapsed() > 60000) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

class NoDialogs : public TDialogs {
 public:
  void Error(const QString& text) override { errors << text; }
  QString OpenFileName(QWidget*, const QString&, const QString&) override { return {}; }
  QStringList errors;
};

// A main window over the given library loaders, shown offscreen.
struct Window {
  explicit Window(TLibraryLoaders loaders) {
    form.SetDialogs(dialogs);
    form.Session().SetLibraryLoaders(std::move(loaders));
    form.show();
  }
  bool Idle() const { return !form.Session().ScanRunning() && !form.Session().RescanPending(); }
  size_t Count() const { return form.Session().DeviceCount(); }
  const TDevEntry& Device(size_t i) const {
    return *form.Session().Device(form.Session().DeviceIds().at(i));
  }
  TFWLoaderDevGroup& Panel(size_t i) { return *form.Panel(form.Session().DeviceIds().at(i)); }

  NoDialogs dialogs;
  TMainForm form{{}};
};

TLibraryLoaders TrackerLoaders() {
  TLibraryLoaders loaders;
  loaders.Ftdi = [](const std::string&) { return LoadFtdiLibrary(BinDir() + "d2xx-sim/"); };
  loaders.Ql = [](const std::string&) { return LoadQLLibrary(BinDir()); };
  return loaders;
}

TEST(ScanWindow, TwoTrackersAtStartGetPanelsAt80And160AndADeviceAreaOf192) {
  TrackerRig trackers;
  trackers.Plug(Tracker("5101", DriverKind::Maker, TrackerMode::BootLoader));
  trackers.Plug(Tracker("5102", DriverKind::Ftdi, TrackerMode::BootLoader));
  Window window(TrackerLoaders());
  ASSERT_TRUE(Eventually([&] { return window.Count() == 2 && window.Idle(); }));
  EXPECT_EQ(window.Panel(0).RequestedTop(), 80);
  EXPECT_EQ(window.Panel(1).RequestedTop(), 160);
  EXPECT_EQ(FormUi(window.form).DevPanel->minimumHeight(), 192);
  ASSERT_TRUE(Eventually([&] { return window.Panel(1).gbDevice->y() == 99; }));
  EXPECT_EQ(window.Panel(0).gbDevice->y(), 3);
  EXPECT_TRUE(window.Panel(0).btnWrite->isEnabled());
  window.form.ShowFrameNow();
  const QString log = FormUi(window.form).reLog->toPlainText();
  EXPECT_TRUE(
      log.contains(QString::fromUtf8("Прибор    5102\tПрибор подключен\n"
                                     "Прибор    5102\tВерсия прошивки ROZI-1.15\n"
                                     "Прибор -------\tВерсия загрузчика BOOT-1.5\n"
                                     "Прибор    5102\tИдентификатор процессора 0x26013F37\n"
                                     "Прибор    5102\tРежим работы - Загрузчик")))
      << log.toStdString();
}

// Firmware mode, start command, the tracker goes and comes back in its boot loader: every
// step reaches the window through the directory watch alone.
TEST(ScanWindow, TheWholeRoadOfOneTrackerThroughHotPlug) {
  TrackerRig trackers;
  trackers.Plug(Tracker("5201", DriverKind::Maker, TrackerMode::Firmware));
  Window window(TrackerLoaders());
  TMainForm& form = window.form;
  ASSERT_TRUE(Eventually([&] { return window.Count() == 1 && window.Idle(); }));
  EXPECT_TRUE(window.Device(0).BootStarted);
  EXPECT_EQ(window.Panel(0).lblMessage->text(),
            QString::fromUtf8("Отключите прибор и подключите заново."));
  EXPECT_FALSE(window.Panel(0).btnWrite->isEnabled());

  // The tracker left to start its boot loader; the window notices by itself.
  ASSERT_TRUE(trackers.Host->WaitUnplugged("5201", std::chrono::seconds(10)));
  ASSERT_TRUE(Eventually([&] { return window.Count() == 0 && window.Idle(); }));
  EXPECT_EQ(FormUi(form).DevPanel->minimumHeight(), 90);
  form.ShowFrameNow();
  EXPECT_TRUE(FormUi(form).reLog->toPlainText().contains(QString::fromUtf8("Прибор отключен")));

  // The user plugs it in again.
  ASSERT_TRUE(trackers.Host->Plug("5201"));
  ASSERT_TRUE(Eventually([&] { return window.Count() == 1 && window.Idle(); }));
  EXPECT_TRUE(window.Device(0).BootMode);
  EXPECT_TRUE(window.Panel(0).btnWrite->isEnabled());
  EXPECT_EQ(window.Panel(0).lblLoader->text(), "BOOT-1.5");
  EXPECT_EQ(window.Panel(0).lblMessage->text(), QString::fromUtf8("Прибор подключен"));
}

// The same with trackers: one answers slowly, so the first scan takes seconds; another is
// plugged meanwhile. Its one notification must be enough for it to be shown.
TEST(ScanWindow, TrackerPluggedDuringASlowScanIsShownAfterIt) {
  TrackerRig trackers;
  auto slow = Tracker("5301", DriverKind::Ftdi, TrackerMode::Firmware);
  slow.faults.delayMs = 3000;                   // its version comes on the second try
  slow.faults.start = sim::StartReply::Silent;  // and it never goes away by itself
  trackers.Plug(slow);
  Window window(TrackerLoaders());
  ASSERT_TRUE(Eventually([&] { return !trackers.Host->Requests("5301").empty(); }))
      << "the first scan never reached the slow tracker";
  trackers.Plug(Tracker("5302", DriverKind::Maker, TrackerMode::BootLoader));
  ASSERT_TRUE(Eventually([&] { return window.Count() == 2 && window.Idle(); }));
  EXPECT_EQ(window.Device(0).Serial, 5301);
  EXPECT_EQ(window.Device(1).Serial, 5302);
  EXPECT_TRUE(window.Device(1).BootMode);
}

// The mended fault: a device plugged while a scan identifies another one is found by one more
// scan right after, with no further notification.
TEST(ScanWindow, DeviceChangeDuringAScanBringsOneMoreScan) {
  TempDir devices;  // nothing is published here; it only keeps the watch off the real /dev
  setenv("ZIZUZ_DEVICE_DIR", devices.Path().c_str(), 1);
  unsetenv("FTD2XX_SIM_DIR");
  ScriptedQl ql;
  ql.devices.push_back({.serial = "61", .replies = {{}, {'R', 'O', 'Z', 'I', '-', '1', '.', '1'}}});
  std::mutex gate;
  std::condition_variable changed;
  bool inside = false;
  bool release = false;
  ql.onOpen = [&] {
    std::unique_lock hold(gate);
    if (!inside) {  // the first open (device 61, first scan) waits for the test
      inside = true;
      changed.notify_all();
      changed.wait(hold, [&] { return release; });
    }
  };
  const auto open_gate = [&] {
    {
      std::lock_guard hold(gate);
      release = true;
    }
    changed.notify_all();
  };
  struct Release {
    std::function<void()> open;
    ~Release() { open(); }
  } release_at_exit{open_gate};

  TLibraryLoaders loaders;
  loaders.Ftdi = [](const std::string&) { return nullptr; };
  loaders.Ql = [&ql](const std::string&) { return ql.NewTable(); };
  Window window(loaders);
  TMainForm& form = window.form;
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard hold(gate);
    return inside;
  })) << "the first scan never reached the device";
  ASSERT_TRUE(form.Session().ScanRunning());
  // Device 62 arrives after the running scan has listed; the system says so once.
  ql.devices.push_back({.serial = "62", .replies = {{}, {'R', 'O', 'Z', 'I', '-', '1', '.', '2'}}});
  form.Session().DeviceChange();
  ASSERT_TRUE(Eventually([&] { return form.Session().RescanPending(); }))
      << "the change during the scan waits for it: at most one scan at a time";

  open_gate();
  ASSERT_TRUE(Eventually([&] { return window.Count() == 2 && window.Idle(); }));
  EXPECT_EQ(window.Device(0).Serial, 61);
  EXPECT_EQ(window.Device(1).Serial, 62);
  EXPECT_EQ(ql.listCalls, 4) << "two scans, each counting and then reading the list";
}

}  // namespace
}  // namespace discovery_test
