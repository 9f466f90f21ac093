// Scans merged into the session's device list, without a window: the lines and the signals a
// view gets for trackers found, changed and gone, against virtual trackers over both libraries
// and against a scripted library.

#include <gtest/gtest.h>

#include <regex>

#include "fake_libraries.h"
#include "session_rig.h"

namespace session_test {
namespace {

using namespace updater;
using discovery_test::Line;
using discovery_test::ScriptedQl;
using discovery_test::Tracker;
using discovery_test::TrackerRig;
using sim::DriverKind;
using sim::TrackerMode;

std::vector<Line> BootLines(int32_t serial) {
  return {{0, serial, "Прибор подключен"},
          {0, serial, "Версия прошивки ROZI-1.15"},
          {0, 0, "Версия загрузчика BOOT-1.5"},
          {0, serial, "Идентификатор процессора 0x26013F37"},
          {0, serial, "Режим работы - Загрузчик"}};
}

TEST(SessionScan, TwoTrackersAtOnceAreListedInOrderWithTheirLines) {
  TrackerRig trackers;
  trackers.Plug(Tracker("3101", DriverKind::Maker, TrackerMode::BootLoader));
  trackers.Plug(Tracker("3102", DriverKind::Ftdi, TrackerMode::BootLoader));
  SessionRig rig(std::move(trackers.Ftdi), std::move(trackers.Ql));
  ASSERT_TRUE(Eventually([&] { return rig.Settled(2); }));

  const std::vector<uint64_t> ids = rig.Session().DeviceIds();
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(rig.Session().Device(ids[0])->Serial, 3102) << "the vendor library's devices first";
  EXPECT_EQ(rig.events, (std::vector<std::string>{"added 3102", "added 3101"}));
  std::vector<Line> expected = BootLines(3102);
  for (const Line& line : BootLines(3101)) {
    expected.push_back(line);
  }
  EXPECT_EQ(rig.lines, expected);
  EXPECT_TRUE(rig.outcomes.empty()) << "without automatic flashing nothing is written";
}

// Firmware mode, start command, the user's re-plug, back in the boot loader, written at once.
TEST(SessionScan, TheRoadOfOneTrackerWithAutomaticFlashing) {
  TrackerRig trackers(300);  // the tracker comes back in its boot loader 300 ms after the start
  trackers.Plug(Tracker("3201", DriverKind::Maker, TrackerMode::Firmware));
  SessionRig rig(std::move(trackers.Ftdi), std::move(trackers.Ql), true);
  ASSERT_TRUE(Eventually([&] { return rig.outcomes.count(3201) != 0 && rig.Settled(1); }));

  const std::vector<Line> first(rig.lines.begin(), rig.lines.begin() + 6);
  EXPECT_EQ(first,
            (std::vector<Line>{
                {0, 3201, "Отправляем команду запуска загрузчика"},
                {0, 3201, "Команда запуска загрузчика обработана. Переподключите устройство."},
                {0, 3201, "Прибор подключен"},
                {0, 3201, "Версия прошивки ROZI-1.15"},
                {0, 3201, "Идентификатор процессора 0x00000000"},
                {0, 3201, "Режим работы - Прошивка"}}));
  EXPECT_EQ(rig.outcomes[3201].ResultCode, kWriteSucceeded);
  // The view is told: the firmware record with its re-plug note, its removal, the boot-loader
  // record, the job's start and its end.
  EXPECT_EQ(rig.events,
            (std::vector<std::string>{
                "added 3201", "status 3201 Отключите прибор и подключите заново. -", "removed 3201",
                "added 3201", "status 3201  -", "status 3201 Обновление прошивки прибора... -",
                "status 3201 Обновление прошивки завершено успешно +", "done 3201 0"}));
  const uint64_t id = rig.Session().DeviceIds().at(0);
  ASSERT_FALSE(rig.progress[id].empty());
  EXPECT_TRUE(std::is_sorted(rig.progress[id].begin(), rig.progress[id].end()));
  EXPECT_EQ(rig.progress[id].back(), 100);
}

TEST(SessionScan, OpenFailureAddsNoDeviceAndLogsTheCycleError) {
  TrackerRig trackers;
  trackers.Plug(Tracker("3301", DriverKind::Ftdi, TrackerMode::BootLoader));
  ScriptedQl ql;  // stands in for the maker's library: one device that cannot be opened
  ql.devices.push_back({.serial = "3302", .openable = false});
  SessionRig rig(std::move(trackers.Ftdi), ql.NewTable());
  // The first cycle and its few retries all fail the same way.
  ASSERT_TRUE(Eventually([&] { return rig.lines.size() >= 2 && rig.Idle(); }));
  EXPECT_EQ(rig.Session().DeviceCount(), 0u);
  EXPECT_TRUE(rig.events.empty());
  // Each cycle's line is followed by one that names the tracker that spoiled it.
  ASSERT_EQ(rig.lines.size() % 2, 0u);
  for (size_t i = 0; i < rig.lines.size(); i += 2) {
    const Line& line = rig.lines[i];
    EXPECT_EQ(line.kind, 1);
    EXPECT_EQ(line.serial, 0);
    EXPECT_TRUE(std::regex_match(
        line.text,
        std::regex("\\( {0,5}\\d{1,6}\\)Ошибка 7 поиске новых устройств\\. Последний код ответа "
                   "прибора 0")))
        << line.text;
    EXPECT_EQ(rig.lines[i + 1], (Line{1, 3302, "Поиск остановил прибор 3302: драйвер QL"}));
  }
}

}  // namespace
}  // namespace session_test
