// The main window's side of the scan, offscreen, over a bare device area: scans started one at
// a time, merged into the device list with their panels and lines, against virtual trackers
// over both libraries and against a scripted library where a scan must be held in place.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <filesystem>
#include <regex>

#include "DevPanelGroup.h"
#include "ScanMerge.h"
#include "fake_libraries.h"
#include "scan_rig.h"

namespace discovery_test {
namespace {

using namespace updater;
using updater::sim::DriverKind;
using updater::sim::TrackerMode;

// A device area and a device list, with scans merged into them the way the main window does.
class WindowRig {
 public:
  WindowRig(const TFtdiLibrary* ftdi, const TQlLibrary* ql) : ftdi_(ftdi), ql_(ql) {
    area.resize(700, 300);
    area.show();
    target.DevList = &dev_list;
    target.DevListLock = &lock;
    target.DevPanel = &area;
    target.AutoWrite = [this] { return auto_write; };
    target.Log = [this](int kind, int32_t serial, const std::string& text) {
      lines.push_back({kind, serial, text});
    };
    target.ConnectWrite = [this](QPushButton* button) {
      QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
    };
    SetDevAreaHeight(target);
  }
  ~WindowRig() { dispatcher.Shutdown(); }

  // One scan from start to merge.
  void Scan() {
    TScanContext context;
    context.Ftdi = ftdi_;
    context.Ql = ql_;
    context.DevList = &dev_list;
    context.DevListLock = &lock;
    context.Sink = target.Log;
    auto* scan = new TReadVersion(dispatcher, context);
    bool merged = false;
    scan->OnTerminate = [&](TWorkerThread* worker) {
      MergeScan(*static_cast<TReadVersion*>(worker), target);
      merged = true;
    };
    scan->Start();
    ASSERT_TRUE(dispatcher.PumpUntil([&] { return merged; }, 120000));
  }
  TFWLoaderDevGroup& Panel(size_t i) { return *PanelOf(*dev_list.at(i)); }

  TDispatcher dispatcher;
  QWidget area;
  TDevList dev_list;
  std::mutex lock;
  TScanTarget target;
  std::vector<Line> lines;
  bool auto_write = false;
  int clicks = 0;

 private:
  const TFtdiLibrary* ftdi_;
  const TQlLibrary* ql_;
};

std::vector<Line> BootLines(int32_t serial) {
  return {{0, serial, "Прибор подключен"},
          {0, serial, "Версия прошивки ROZI-1.15"},
          {0, 0, "Версия загрузчика BOOT-1.5"},
          {0, serial, "Идентификатор процессора 0x26013F37"},
          {0, serial, "Режим работы - Загрузчик"}};
}

TEST(ScanMerge, TwoTrackersAtOnceGetPanelsAt80And160) {
  TrackerRig trackers;
  trackers.Plug(Tracker("3101", DriverKind::Maker, TrackerMode::BootLoader));
  trackers.Plug(Tracker("3102", DriverKind::Ftdi, TrackerMode::BootLoader));
  WindowRig window(trackers.Ftdi.get(), trackers.Ql.get());
  EXPECT_EQ(window.area.minimumHeight(), 90);
  window.Scan();

  ASSERT_EQ(window.dev_list.size(), 2u);
  EXPECT_EQ(window.dev_list[0]->Serial, 3102) << "the vendor library's devices come first";
  EXPECT_EQ(window.Panel(0).RequestedTop(), 80);
  EXPECT_EQ(window.Panel(1).RequestedTop(), 160);
  EXPECT_EQ(window.area.minimumHeight(), 192);
  EXPECT_TRUE(window.Panel(0).btnWrite->isEnabled());
  EXPECT_EQ(window.Panel(1).lblLoader->text(), "BOOT-1.5");
  std::vector<Line> expected = BootLines(3102);
  for (const Line& line : BootLines(3101)) {
    expected.push_back(line);
  }
  EXPECT_EQ(window.lines, expected);
  EXPECT_EQ(window.clicks, 0) << "without automatic flashing the button is only enabled";
}

// Firmware mode, start command, the user's re-plug, back in the boot loader.
TEST(ScanMerge, TheRoadOfOneTracker) {
  TrackerRig trackers;
  trackers.Plug(Tracker("3201", DriverKind::Maker, TrackerMode::Firmware));
  WindowRig window(trackers.Ftdi.get(), trackers.Ql.get());
  window.auto_write = true;
  window.Scan();
  ASSERT_EQ(window.dev_list.size(), 1u);
  EXPECT_EQ(window.lines,
            (std::vector<Line>{
                {0, 3201, "Отправляем команду запуска загрузчика"},
                {0, 3201, "Команда запуска загрузчика обработана. Переподключите устройство."},
                {0, 3201, "Прибор подключен"},
                {0, 3201, "Версия прошивки ROZI-1.15"},
                {0, 3201, "Идентификатор процессора 0x00000000"},
                {0, 3201, "Режим работы - Прошивка"}}));
  EXPECT_EQ(window.Panel(0).lblMessage->text(),
            QString::fromUtf8("Отключите прибор и подключите заново."));
  EXPECT_EQ(window.Panel(0).lblMessage->palette().color(QPalette::WindowText), QColor(0, 128, 0));
  EXPECT_FALSE(window.Panel(0).btnWrite->isEnabled());
  EXPECT_EQ(window.Panel(0).lblLoader->text(), "");
  EXPECT_EQ(window.clicks, 0);

  ASSERT_TRUE(trackers.Host->WaitUnplugged("3201", std::chrono::seconds(10)));
  window.lines.clear();
  window.Scan();
  EXPECT_EQ(window.lines, (std::vector<Line>{{0, 3201, "Прибор отключен"}}));
  EXPECT_TRUE(window.dev_list.empty());
  EXPECT_EQ(window.area.minimumHeight(), 90);

  ASSERT_TRUE(trackers.Host->Plug("3201"));
  window.lines.clear();
  window.Scan();
  ASSERT_EQ(window.dev_list.size(), 1u);
  EXPECT_EQ(window.lines, BootLines(3201));
  EXPECT_TRUE(window.Panel(0).btnWrite->isEnabled());
  EXPECT_EQ(window.Panel(0).lblMessage->text(), QString::fromUtf8("Прибор подключен"));
  EXPECT_EQ(window.clicks, 1) << "automatic flashing clicks a boot-loader device's button";
}

TEST(ScanMerge, OpenFailureAddsNoDeviceAndLogsTheCycleError) {
  TrackerRig trackers;
  trackers.Plug(Tracker("3301", DriverKind::Ftdi, TrackerMode::BootLoader));
  ScriptedQl ql;  // stands in for the maker's library: one device that cannot be opened
  ql.devices.push_back({.serial = "3302", .openable = false});
  WindowRig window(trackers.Ftdi.get(), &ql.Table());
  window.Scan();
  EXPECT_TRUE(window.dev_list.empty());
  ASSERT_EQ(window.lines.size(), 1u);
  EXPECT_EQ(window.lines[0].kind, 1);
  EXPECT_EQ(window.lines[0].serial, 0);
  EXPECT_TRUE(std::regex_match(
      window.lines[0].text,
      std::regex("\\( {0,5}\\d{1,6}\\)Ошибка 7 поиске новых устройств\\. Последний код ответа "
                 "прибора 0")))
      << window.lines[0].text;
  EXPECT_EQ(window.area.minimumHeight(), 90);
}

TEST(ScanMerge, GoneDeviceStaysWhileItIsWritten) {
  ScriptedQl ql;
  WindowRig window(nullptr, &ql.Table());
  for (const char* serial : {"41", "42", "43"}) {
    window.dev_list.push_back(std::make_unique<TDevEntry>(serial, 0, 1));
    CreateDevPanel(*window.dev_list.back(), window.target);
  }
  struct Idle : TWorkerThread {
    using TWorkerThread::TWorkerThread;
    void Execute() override {}
  } writer(window.dispatcher);
  window.dev_list[1]->Writer = &writer;
  window.Scan();  // lists nothing: all three are gone
  ASSERT_EQ(window.dev_list.size(), 1u);
  EXPECT_EQ(window.dev_list[0]->Serial, 42);
  EXPECT_TRUE(window.dev_list[0]->Removed);
  EXPECT_TRUE(writer.Terminated());
  EXPECT_EQ(window.lines,
            (std::vector<Line>{{0, 41, "Прибор отключен"}, {0, 43, "Прибор отключен"}}));
  EXPECT_EQ(window.area.minimumHeight(), 96);
  window.dev_list[0]->Writer = nullptr;
}

}  // namespace
}  // namespace discovery_test
