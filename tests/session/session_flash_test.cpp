// Whole write jobs through the session, without a window: trackers found by its scan, flashed
// automatically with the embedded image, each job on its own thread.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "TrackerDump.h"
#include "session_rig.h"
#include "tracker_images.h"

namespace session_test {
namespace {

using namespace updater;
using discovery_test::Line;
using discovery_test::TrackerRig;
using sim::DriverKind;
using tracker_images::BootTracker;

// Leaves a socket file at path, the kind of node the stand-in lists as a device.
void BindSocketFile(const std::filesystem::path& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = path.string();
  ASSERT_LT(name.size(), sizeof address.sun_path);
  std::copy(name.begin(), name.end(), address.sun_path);
  const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  ::close(fd);
  ASSERT_EQ(bound, 0) << name;
}

size_t CountLines(const std::vector<Line>& lines, int32_t serial, const std::regex& text) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const Line& line) {
    return line.serial == serial && std::regex_match(line.text, text);
  }));
}

// What a failed job leaves to go by: its last log lines and the last requests its tracker got.
std::string JobStory(const std::vector<Line>& lines, int32_t serial,
                     const std::vector<sim::RequestRecord>& requests) {
  std::string story;
  std::vector<std::string> own;
  for (const Line& line : lines) {
    if (line.serial == serial) {
      own.push_back(line.text);
    }
  }
  for (size_t i = own.size() > 12 ? own.size() - 12 : 0; i < own.size(); ++i) {
    story += "\n  log: " + own[i];
  }
  for (size_t i = requests.size() > 6 ? requests.size() - 6 : 0; i < requests.size(); ++i) {
    story += "\n  tracker got " + sim::RequestSummary(requests[i]);
  }
  return story;
}

struct MapTracker {
  const char* map;
  uint32_t processor_id;
  const char* boot;  // the suffix picks the map of an unlisted processor
};

const MapTracker kMaps[] = {
    {"64 sectors", 0x10040204, "BOOT-1.05"},   {"22 sectors", 0x25011723, "BOOT-1.05"},
    {"30 sectors", 0x26013F37, "BOOT-1.05"},   {"256 sectors", 0x400FE000, "BOOT-1.05"},
    {"27 sectors", 0x00000000, "BOOT-1.05PP"}, {"28 sectors", 0x12345678, "BOOT-1.05"},
};

// A tracker of every sector map over each library, all present when the session starts: the
// first scan finds them and automatic flashing starts every job.
TEST(SessionFlash, EveryMapAndBothLibrariesGetTheImageAtTheirFirstWritableSector) {
  TrackerRig trackers;
  struct Flashed {
    const char* map;
    sim::TrackerConfig config;
  };
  std::map<int32_t, Flashed> flashed;
  int32_t serial = 7100;
  for (const MapTracker& m : kMaps) {
    for (DriverKind driver : {DriverKind::Maker, DriverKind::Ftdi}) {
      sim::TrackerConfig config =
          BootTracker(std::to_string(++serial), driver, m.processor_id, m.boot);
      trackers.Plug(config);
      flashed.emplace(serial, Flashed{m.map, std::move(config)});
    }
  }
  SessionRig rig(std::move(trackers.Ftdi), std::move(trackers.Ql), true);
  ASSERT_TRUE(Eventually(
      [&] { return rig.outcomes.size() == flashed.size() && rig.Settled(flashed.size()); }));
  for (const auto& [number, f] : flashed) {
    SCOPED_TRACE(f.config.serial + (f.config.driver == DriverKind::Ftdi ? " ftdi, " : " maker, ") +
                 f.map);
    EXPECT_EQ(rig.outcomes[number].ResultCode, kWriteSucceeded)
        << JobStory(rig.lines, number, trackers.Host->Requests(f.config.serial));
    const uint64_t id = rig.Device(number)->Id;
    ASSERT_FALSE(rig.progress[id].empty());
    EXPECT_EQ(rig.progress[id].back(), 100);
    EXPECT_EQ(CountLines(rig.lines, number, std::regex("Начинаем прошивку прибора")), 1u);
    EXPECT_EQ(CountLines(rig.lines, number, std::regex("\\(\\s*\\d+\\)Прошивка завершена успешно")),
              1u);
    const std::string name = f.config.serial;
    EXPECT_EQ(trackers.Host->Status(name).finish, sim::FinishState::Succeeded);
    // Written where the image lies, untouched before it, in its empty sectors and past its end.
    const std::vector<uint8_t> expected = tracker_images::ExpectedFlash(
        trackers.Host->SectorMap(name), f.config.preload, tracker_images::EmbeddedPayload());
    const std::vector<uint8_t> flash = trackers.Host->Flash(name);
    ASSERT_EQ(flash.size(), expected.size());
    const auto differ = std::mismatch(flash.begin(), flash.end(), expected.begin());
    EXPECT_TRUE(differ.first == flash.end())
        << "first difference at 0x" << std::hex << (differ.first - flash.begin());
  }
}

// An ordinary USB-serial adapter that the kernel's driver holds sits beside two FTDI trackers,
// one whose serial has leading zeros: both trackers are found and flashed, and the adapter gets
// one line however often the session scans.
TEST(SessionFlash, FtdiTrackersBesideADeviceHeldByAnotherDriverAreFlashed) {
  TrackerRig trackers;
  const std::filesystem::path ftdi_dir = trackers.Dir.Path() + "/ftdi";
  std::filesystem::create_directories(ftdi_dir);
  // A device node with no description: held by another driver, as the stand-in reads it.
  BindSocketFile(ftdi_dir / "ADAPTER");
  trackers.Plug(BootTracker("0042", DriverKind::Ftdi));
  trackers.Plug(BootTracker("7301", DriverKind::Ftdi));
  SessionRig rig(std::move(trackers.Ftdi), std::move(trackers.Ql), true);
  const auto flashed = [&](std::initializer_list<int32_t> serials) {
    return rig.Settled(serials.size()) &&
           std::all_of(serials.begin(), serials.end(), [&](int32_t serial) {
             return rig.outcomes.count(serial) != 0 &&
                    rig.outcomes[serial].ResultCode == kWriteSucceeded;
           });
  };
  ASSERT_TRUE(Eventually([&] { return flashed({42, 7301}); }));
  // More scans: a tracker plugged, and two asked for by hand.
  trackers.Plug(BootTracker("7302", DriverKind::Maker));
  ASSERT_TRUE(Eventually([&] { return flashed({42, 7301, 7302}); }));
  for (int i = 0; i < 2; ++i) {
    rig.Session().StartScan();
    ASSERT_TRUE(Eventually([&] { return rig.Idle(); }));
  }
  EXPECT_EQ(trackers.Host->Status("0042").finish, sim::FinishState::Succeeded);
  EXPECT_EQ(trackers.Host->Status("7301").finish, sim::FinishState::Succeeded);
  // On a loaded machine a tracker of the rig may miss the 100 ms of an identification query:
  // code 8, the tracker named, and the next scan finds it. Any other error, or a cycle spoiled
  // by anything but those trackers, is the fault this test looks for.
  const std::set<int32_t> rig_trackers = {42, 7301, 7302};
  size_t held = 0;
  size_t unanswered = 0;
  size_t named = 0;
  for (const Line& line : rig.lines) {
    held += line.text.find("занято другим драйвером") != std::string::npos ? 1 : 0;
    if (line.text.starts_with("Поиск остановил прибор")) {
      EXPECT_EQ(rig_trackers.count(line.serial), 1u) << line.text;
      ++named;
    } else if (line.text.find("Ошибка 8 поиске новых устройств") != std::string::npos) {
      ++unanswered;
    } else {
      EXPECT_EQ(line.text.find("Ошибка"), std::string::npos) << line.text;
    }
  }
  EXPECT_EQ(named, unanswered);
  EXPECT_EQ(held, 1u);
}

// Its first query unanswered, the tracker spoils the scan's cycle; nothing changes on the bus
// afterwards, yet it must still be found and flashed.
TEST(SessionFlash, TrackerThatMissedItsFirstQueryIsFoundAgainWithoutAReplug) {
  TrackerRig trackers;
  SessionRig rig(std::move(trackers.Ftdi), std::move(trackers.Ql), true);
  ASSERT_TRUE(Eventually([&] { return rig.Idle(); }));
  sim::TrackerConfig config = BootTracker("7301", DriverKind::Maker);
  config.faults.dropAt = {1};
  trackers.Plug(config);
  ASSERT_TRUE(Eventually([&] { return rig.outcomes.count(7301) != 0 && rig.Settled(1); }));
  EXPECT_EQ(rig.outcomes[7301].ResultCode, kWriteSucceeded);
  EXPECT_EQ(trackers.Host->Status("7301").finish, sim::FinishState::Succeeded);
}

}  // namespace
}  // namespace session_test
