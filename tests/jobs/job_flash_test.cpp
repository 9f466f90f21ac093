// Whole write jobs through the real window: trackers found by its scan, flashed automatically
// with the embedded image, each job on its own thread, each panel with its own progress.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLabel>
#include <QProgressBar>
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "job_window_rig.h"
#include "scan_rig.h"

namespace jobtest {
namespace {

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

using namespace updater;
using sim::DriverKind;

const QString kSucceeded = QString::fromUtf8("Обновление прошивки завершено успешно");

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

// A tracker of every sector map over each library, all present when the window starts: the
// first scan finds them and automatic flashing starts every job.
TEST(JobWindow, EveryMapAndBothLibrariesGetTheImageAtTheirFirstWritableSector) {
  discovery_test::TrackerRig trackers;
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
  Window window(true);
  ASSERT_TRUE(Eventually([&] {
    return window.Settled(flashed.size()) &&
           std::all_of(flashed.begin(), flashed.end(), [&](const auto& entry) {
             return window.Panel(entry.first)->lblMessage->text() !=
                    QString::fromUtf8("Прибор подключен");
           });
  }));

  const QStringList log = window.LogLines();
  for (const auto& [number, f] : flashed) {
    SCOPED_TRACE(f.config.serial + (f.config.driver == DriverKind::Ftdi ? " ftdi, " : " maker, ") +
                 f.map);
    const TFWLoaderDevGroup& panel = *window.Panel(number);
    const QString prefix = QString::fromUtf8("Прибор %1\t").arg(number, 7);
    EXPECT_EQ(panel.lblMessage->text(), kSucceeded) << log.filter(prefix).join('\n').toStdString();
    EXPECT_EQ(panel.pbWrite->value(), 100);
    EXPECT_TRUE(panel.btnWrite->isEnabled());
    EXPECT_EQ(log.filter(prefix + QString::fromUtf8("Начинаем прошивку прибора")).size(), 1);
    EXPECT_EQ(log.filter(QRegularExpression(QRegularExpression::escape(prefix) +
                                            QString::fromUtf8("\\(\\s*\\d+\\)Прошивка "
                                                              "завершена успешно$")))
                  .size(),
              1);

    const std::string name = f.config.serial;
    EXPECT_EQ(trackers.Host->Status(name).finish, sim::FinishState::Succeeded);
    // Written where the image lies, untouched before it, in its empty sectors and past its end.
    const std::vector<uint8_t> expected =
        ExpectedFlash(trackers.Host->SectorMap(name), f.config.preload, EmbeddedPayload());
    const std::vector<uint8_t> flash = trackers.Host->Flash(name);
    ASSERT_EQ(flash.size(), expected.size());
    const auto differ = std::mismatch(flash.begin(), flash.end(), expected.begin());
    EXPECT_TRUE(differ.first == flash.end())
        << "first difference at 0x" << std::hex << (differ.first - flash.begin());
  }
}

// An ordinary USB-serial adapter that the kernel's driver holds sits beside two FTDI trackers,
// one whose serial has leading zeros: both trackers are found and flashed, and the adapter gets
// one line however often the window scans.
TEST(JobWindow, FtdiTrackersBesideADeviceHeldByAnotherDriverAreFlashed) {
  discovery_test::TrackerRig trackers;
  const std::filesystem::path ftdi_dir = trackers.Dir.Path() + "/ftdi";
  std::filesystem::create_directories(ftdi_dir);
  // A device node with no description: held by another driver, as the stand-in reads it.
  BindSocketFile(ftdi_dir / "ADAPTER");
  trackers.Plug(BootTracker("0042", DriverKind::Ftdi));
  trackers.Plug(BootTracker("7301", DriverKind::Ftdi));
  Window window(true);
  const auto flashed = [&](std::initializer_list<int32_t> serials) {
    return window.Settled(serials.size()) &&
           std::all_of(serials.begin(), serials.end(), [&](int32_t serial) {
             return window.Panel(serial)->lblMessage->text() == kSucceeded;
           });
  };
  ASSERT_TRUE(Eventually([&] { return flashed({42, 7301}); }));
  // More scans: a tracker plugged, and two asked for by hand.
  trackers.Plug(BootTracker("7302", DriverKind::Maker));
  ASSERT_TRUE(Eventually([&] { return flashed({42, 7301, 7302}); }));
  for (int i = 0; i < 2; ++i) {
    window.Form().Session().StartScan();
    ASSERT_TRUE(Eventually([&] { return window.Idle(); }));
  }

  EXPECT_EQ(trackers.Host->Status("0042").finish, sim::FinishState::Succeeded);
  EXPECT_EQ(trackers.Host->Status("7301").finish, sim::FinishState::Succeeded);
  const QStringList log = window.LogLines();
  EXPECT_EQ(log.filter(QString::fromUtf8("занято другим драйвером")).size(), 1)
      << log.join("\n").toStdString();
  EXPECT_TRUE(log.filter(QString::fromUtf8("Ошибка")).isEmpty()) << log.join("\n").toStdString();
}

// Four trackers plugged at once while the window runs: four jobs side by side, each moving
// its own panel's bar from its own progress.
// Its first query unanswered, the tracker spoils the scan's cycle; nothing changes on the bus
// afterwards, yet it must still be found and flashed.
TEST(JobWindow, TrackerThatMissedItsFirstQueryIsFoundAgainWithoutAReplug) {
  discovery_test::TrackerRig trackers;
  Window window(true);
  ASSERT_TRUE(Eventually([&] { return window.Idle(); }));
  sim::TrackerConfig config = BootTracker("7301", DriverKind::Maker);
  config.faults.dropAt = {1};
  trackers.Plug(config);
  ASSERT_TRUE(Eventually([&] {
    return window.Settled(1) && window.Panel(7301) != nullptr &&
           window.Panel(7301)->lblMessage->text() == kSucceeded;
  }));
  EXPECT_EQ(trackers.Host->Status("7301").finish, sim::FinishState::Succeeded);
}

TEST(JobWindow, FourTrackersPluggedAtOnceAreFlashedSideBySide) {
  discovery_test::TrackerRig trackers;
  Window window(true);
  ASSERT_TRUE(Eventually([&] { return window.Idle(); }));
  const std::vector<int32_t> serials = {7201, 7202, 7203, 7204};
  for (int32_t serial : serials) {
    trackers.Plug(BootTracker(std::to_string(serial),
                              serial % 2 == 0 ? DriverKind::Ftdi : DriverKind::Maker));
  }

  // Sampled between events: what each bar showed, and how many bars stood between 0 and 100
  // at the same moment.
  std::map<int32_t, std::vector<int>> bars;
  size_t most_moving = 0;
  ASSERT_TRUE(Eventually([&] {
    size_t moving = 0;
    for (int32_t serial : serials) {
      const TFWLoaderDevGroup* panel = window.Panel(serial);
      if (panel == nullptr) {
        continue;
      }
      const int value = panel->pbWrite->value();
      std::vector<int>& seen = bars[serial];
      if (seen.empty() || seen.back() != value) {
        seen.push_back(value);
      }
      moving += value > 0 && value < 100 ? 1 : 0;
    }
    most_moving = std::max(most_moving, moving);
    return window.Settled(serials.size()) &&
           std::all_of(serials.begin(), serials.end(), [&](int32_t serial) {
             return window.Panel(serial)->lblMessage->text() == kSucceeded;
           });
  }));

  EXPECT_EQ(most_moving, serials.size()) << "the jobs did not run side by side";
  for (int32_t serial : serials) {
    SCOPED_TRACE(serial);
    const std::vector<int>& seen = bars[serial];
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 100);
    EXPECT_GT(seen.size(), 3u) << "the bar jumped instead of moving";
    EXPECT_EQ(trackers.Host->Status(std::to_string(serial)).finish, sim::FinishState::Succeeded);
  }
}

}  // namespace
}  // namespace jobtest
