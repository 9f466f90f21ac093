// Scans against virtual trackers over both real libraries: libZIZUZ for the maker's kind, the
// stand-in D2XX for the FTDI kind, each tracker on its own pseudo-terminal.

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "scan_rig.h"

namespace discovery_test {
namespace {

using updater::sim::DriverKind;
using updater::sim::TrackerMode;

class ScanTrackers : public testing::TestWithParam<DriverKind> {
 protected:
  TrackerRig trackers;
  ScanRig scans{trackers.Ftdi.get(), trackers.Ql.get()};

  void SetUp() override {
    ASSERT_NE(trackers.Ql, nullptr) << "libZIZUZ.so not found beside the test";
    ASSERT_NE(trackers.Ftdi, nullptr) << "stand-in libftd2xx.so not found in d2xx-sim/";
  }
  uint32_t Driver() const { return GetParam() == DriverKind::Ftdi ? 0u : 1u; }

  // A tracker plugged in its firmware and sent into its boot loader by one scan; its record is
  // then the scan's known device, waiting for the re-plug.
  void KnownAfterTheStartCommand(const char* serial) {
    trackers.Plug(Tracker(serial, GetParam(), TrackerMode::Firmware));
    ScanOutcome first = scans.Run();
    ASSERT_EQ(first.NewDevices.size(), 1u);
    ASSERT_TRUE(first.NewDevices[0]->BootStarted);
    scans.DevList = std::move(first.NewDevices);
  }
};

TEST_P(ScanTrackers, BootLoaderTrackerGetsExactlyItsThreeQueries) {
  trackers.Plug(Tracker("4242", GetParam(), TrackerMode::BootLoader));
  const ScanOutcome outcome = scans.Run();
  EXPECT_EQ(outcome.ErrorCode, 0);
  EXPECT_TRUE(outcome.Lines.empty());
  EXPECT_EQ(Received(*trackers.Host, "4242"), (std::vector<std::string>{"F4", "F5", "F10"}));
  ASSERT_EQ(outcome.NewDevices.size(), 1u);
  const auto& dev = *outcome.NewDevices[0];
  EXPECT_EQ(dev.Serial, 4242);
  EXPECT_EQ(dev.Driver, Driver());
  EXPECT_TRUE(dev.BootMode);
  EXPECT_FALSE(dev.BootStarted);
  EXPECT_EQ(dev.FirmwareVersion.VersionText(), "ROZI-1.15");
  EXPECT_EQ(dev.BootVersion.VersionText(), "BOOT-1.5");
  EXPECT_EQ(dev.ProcessorId, 0x26013F37u);
}

TEST_P(ScanTrackers, FirmwareTrackerIsSwitchedIntoItsBootLoader) {
  trackers.Plug(Tracker("4243", GetParam(), TrackerMode::Firmware));
  const ScanOutcome outcome = scans.Run();
  EXPECT_EQ(outcome.ErrorCode, 0);
  // The firmware ignores the boot-loader query frame that comes first.
  EXPECT_EQ(Received(*trackers.Host, "4243"),
            (std::vector<std::string>{"FL_READ_VERSION$", "START_BOOT_LOADER"}));
  EXPECT_EQ(outcome.Lines,
            (std::vector<Line>{
                {0, 4243, "Отправляем команду запуска загрузчика"},
                {0, 4243, "Команда запуска загрузчика обработана. Переподключите устройство."}}));
  ASSERT_EQ(outcome.NewDevices.size(), 1u);
  const auto& dev = *outcome.NewDevices[0];
  EXPECT_FALSE(dev.BootMode);
  EXPECT_TRUE(dev.BootStarted);
  EXPECT_EQ(dev.FirmwareVersion.VersionText(), "ROZI-1.15");
  EXPECT_EQ(dev.BootVersion.VersionText(), "?????");
}

// Firmware mode, start command, re-plug, back in the boot loader: removed, then new again.
TEST_P(ScanTrackers, TheRoadOfOneTrackerThroughItsReplug) {
  ASSERT_NO_FATAL_FAILURE(KnownAfterTheStartCommand("4244"));

  ASSERT_TRUE(trackers.Host->WaitUnplugged("4244", std::chrono::seconds(10)));
  const ScanOutcome while_away = scans.Run();
  EXPECT_TRUE(while_away.NewDevices.empty());
  EXPECT_TRUE(scans.DevList[0]->Removed);
  scans.DevList.clear();  // what the merge does with a gone device

  ASSERT_TRUE(trackers.Host->Plug("4244"));
  const ScanOutcome back = scans.Run();
  ASSERT_EQ(back.NewDevices.size(), 1u);
  EXPECT_TRUE(back.NewDevices[0]->BootMode);
  EXPECT_EQ(back.NewDevices[0]->ProcessorId, 0x26013F37u);
  EXPECT_TRUE(back.Lines.empty());
}

// The same road when the tracker is back before the next scan lists it: the listing alone
// cannot tell it was away, and the record would wait for a re-plug that has already happened.
TEST_P(ScanTrackers, TrackerBackBeforeTheNextListingIsTakenAsReplugged) {
  ASSERT_NO_FATAL_FAILURE(KnownAfterTheStartCommand("4245"));
  ASSERT_TRUE(trackers.Host->WaitUnplugged("4245", std::chrono::seconds(10)));
  ASSERT_TRUE(trackers.Host->Plug("4245"));

  const ScanOutcome back = scans.Run();
  EXPECT_EQ(back.ErrorCode, 0);
  EXPECT_TRUE(scans.DevList[0]->Removed);
  ASSERT_EQ(back.NewDevices.size(), 1u);
  EXPECT_TRUE(back.NewDevices[0]->BootMode);
  EXPECT_EQ(back.NewDevices[0]->BootVersion.VersionText(), "BOOT-1.5");
  EXPECT_EQ(back.NewDevices[0]->ProcessorId, 0x26013F37u);
}

// A record waiting for its re-plug whose tracker still runs its firmware stays as it is, and
// the tracker is not sent the start command again: only the boot-loader query, which the
// firmware ignores.
TEST_P(ScanTrackers, TrackerStillInItsFirmwareKeepsWaitingWithoutASecondStart) {
  auto config = Tracker("4246", GetParam(), TrackerMode::Firmware);
  config.faults.start = updater::sim::StartReply::Error;  // stays in its firmware
  trackers.Plug(config);
  ScanOutcome first = scans.Run();
  ASSERT_EQ(first.NewDevices.size(), 1u);
  scans.DevList = std::move(first.NewDevices);
  scans.DevList[0]->BootStarted = true;  // as if it had answered STARTED and not yet gone
  const std::vector<std::string> before = Received(*trackers.Host, "4246");

  const ScanOutcome again = scans.Run();
  EXPECT_EQ(again.ErrorCode, 0);
  EXPECT_TRUE(again.NewDevices.empty());
  EXPECT_FALSE(scans.DevList[0]->Removed);
  std::vector<std::string> after = Received(*trackers.Host, "4246");
  std::erase(after, "F4");
  EXPECT_EQ(after, before);
}

TEST_P(ScanTrackers, TwoTrackersAreIdentifiedInTheOrderListed) {
  trackers.Plug(Tracker("501", GetParam(), TrackerMode::BootLoader));
  trackers.Plug(Tracker("502", GetParam(), TrackerMode::Firmware));
  const ScanOutcome outcome = scans.Run();
  EXPECT_EQ(outcome.ErrorCode, 0);
  ASSERT_EQ(outcome.NewDevices.size(), 2u);
  EXPECT_EQ(outcome.NewDevices[0]->Serial, 501);
  EXPECT_TRUE(outcome.NewDevices[0]->BootMode);
  EXPECT_EQ(outcome.NewDevices[1]->Serial, 502);
  EXPECT_TRUE(outcome.NewDevices[1]->BootStarted);
}

TEST_P(ScanTrackers, UnpluggedTrackerIsMarkedGone) {
  trackers.Plug(Tracker("601", GetParam(), TrackerMode::BootLoader));
  ScanOutcome first = scans.Run();
  scans.DevList = std::move(first.NewDevices);
  ASSERT_EQ(scans.DevList.size(), 1u);

  const ScanOutcome again = scans.Run();
  EXPECT_FALSE(scans.DevList[0]->Removed);
  EXPECT_TRUE(again.NewDevices.empty());
  EXPECT_EQ(trackers.Host->Requests("601").size(), 3u) << "a known tracker is not asked again";

  ASSERT_TRUE(trackers.Host->Unplug("601"));
  scans.Run();
  EXPECT_TRUE(scans.DevList[0]->Removed);
}

TEST_P(ScanTrackers, TrackerVanishingMidIdentificationIsStillShownWithoutItsDetails) {
  auto config = Tracker("801", GetParam(), TrackerMode::BootLoader);
  config.faults.vanishAfter = 1;  // gone right after answering the first query
  trackers.Plug(config);
  const ScanOutcome outcome = scans.Run();
  EXPECT_EQ(outcome.ErrorCode, 0);
  ASSERT_EQ(outcome.NewDevices.size(), 1u);
  EXPECT_TRUE(outcome.NewDevices[0]->BootMode);
  EXPECT_EQ(outcome.NewDevices[0]->ProcessorId, 0u);
  EXPECT_EQ(outcome.NewDevices[0]->BootVersion.VersionText(), "?????");
  // Whether the next request still went out before the device was gone is a matter of timing;
  // either way at most the missing identifier is reported.
  for (const Line& line : outcome.Lines) {
    EXPECT_EQ(line, (Line{1, 0, "нет ответа на запрос идентификатора"}));
  }
}

INSTANTIATE_TEST_SUITE_P(BothLibraries, ScanTrackers,
                         testing::Values(DriverKind::Maker, DriverKind::Ftdi), [](const auto& row) {
                           return row.param == DriverKind::Ftdi ? "Ftdi" : "Maker";
                         });

TEST(ScanTrackersMixed, FtdiTrackersAreListedFirstAndOnlyWithTheMakersDescription) {
  TrackerRig trackers;
  ASSERT_NE(trackers.Ftdi, nullptr);
  trackers.Plug(Tracker("701", DriverKind::Maker, TrackerMode::BootLoader));
  auto other = Tracker("702", DriverKind::Ftdi, TrackerMode::BootLoader);
  other.description = "veltorium";
  trackers.Plug(other);
  trackers.Plug(Tracker("703", DriverKind::Ftdi, TrackerMode::BootLoader));
  ScanRig scans(trackers.Ftdi.get(), trackers.Ql.get());
  const ScanOutcome outcome = scans.Run();
  ASSERT_EQ(outcome.NewDevices.size(), 2u);
  EXPECT_EQ(outcome.NewDevices[0]->Serial, 703);
  EXPECT_EQ(outcome.NewDevices[0]->Driver, 0u);
  EXPECT_EQ(outcome.NewDevices[1]->Serial, 701);
  EXPECT_EQ(outcome.NewDevices[1]->Driver, 1u);
  EXPECT_TRUE(trackers.Host->Requests("702").empty());
}

// The vendor's library opens by serial text and matches it exactly: a tracker listed as "0042"
// is opened as "0042", not as the number's "42".
TEST(ScanTrackersMixed, FtdiTrackerWhoseSerialHasLeadingZerosIsOpened) {
  TrackerRig trackers;
  ASSERT_NE(trackers.Ftdi, nullptr);
  trackers.Plug(Tracker("0042", DriverKind::Ftdi, TrackerMode::BootLoader));
  ScanRig scans(trackers.Ftdi.get(), trackers.Ql.get());
  const ScanOutcome outcome = scans.Run();
  EXPECT_EQ(outcome.ErrorCode, 0);
  ASSERT_EQ(outcome.NewDevices.size(), 1u);
  EXPECT_EQ(outcome.NewDevices[0]->Serial, 42);
  EXPECT_TRUE(outcome.NewDevices[0]->BootMode);
  EXPECT_EQ(Received(*trackers.Host, "0042"), (std::vector<std::string>{"F4", "F5", "F10"}));
}

// Takes a tty away from this thread and the threads it starts, as an ordinary user meets a tty
// that udev left to root: its mode allows nobody, and the thread sheds the capabilities by
// which root would open it anyway. Both come back at the end of the scope.
class NoAccess {
 public:
  explicit NoAccess(const std::string& tty) : tty_(tty) {
    struct stat info {};
    EXPECT_EQ(::stat(tty_.c_str(), &info), 0) << tty_;
    mode_ = info.st_mode & 07777;
    EXPECT_EQ(::chmod(tty_.c_str(), 0), 0) << tty_;
    EXPECT_EQ(::syscall(SYS_capget, &header_, caps_), 0);
    __user_cap_data_struct reduced[2] = {caps_[0], caps_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    EXPECT_EQ(::syscall(SYS_capset, &header_, reduced), 0);
  }
  ~NoAccess() {
    ::syscall(SYS_capset, &header_, caps_);
    ::chmod(tty_.c_str(), mode_);
  }
  NoAccess(const NoAccess&) = delete;
  NoAccess& operator=(const NoAccess&) = delete;

 private:
  std::string tty_;
  mode_t mode_ = 0;
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct caps_[2] = {};
};

std::string MakerTty(const TrackerRig& trackers, const std::string& serial) {
  return std::filesystem::canonical(trackers.Dir.Path() + "/by-id/usb-Veltorium_Tracker_" + serial +
                                    "-if00")
      .string();
}

// A tracker whose tty the user may not open fails the cycle as any failed open does; the line
// after the cycle's error line names the tty and the fix, once however often the scan looks
// again, and the tracker is found as soon as access is given.
TEST(ScanTrackersAccess, TtyWithoutPermissionIsToldOnceWithItsPathAndTheFix) {
  TrackerRig trackers;
  ASSERT_NE(trackers.Ql, nullptr);
  trackers.Plug(Tracker("901", DriverKind::Maker, TrackerMode::BootLoader));
  trackers.Plug(Tracker("902", DriverKind::Maker, TrackerMode::BootLoader));
  const std::string tty = MakerTty(trackers, "901");
  ScanRig scans(trackers.Ftdi.get(), trackers.Ql.get());
  std::vector<ScanOutcome> denied;
  {
    NoAccess no_access(tty);
    denied.push_back(scans.Run());
    denied.push_back(scans.Run());
  }
  for (const ScanOutcome& outcome : denied) {
    EXPECT_EQ(outcome.ErrorCode, 7);
    EXPECT_TRUE(outcome.Lines.empty());
  }
  const Line told = {1, 901,
                     "Нет прав на открытие порта " + tty +
                         ". Установите правила udev из пакета программы или добавьте "
                         "пользователя в группу dialout (sudo usermod -aG dialout $USER) и "
                         "войдите в систему заново"};
  EXPECT_EQ(denied[0].Notices, std::vector<Line>{told});
  EXPECT_TRUE(denied[1].Notices.empty()) << "told once, not at every scan";

  const ScanOutcome allowed = scans.Run();
  EXPECT_EQ(allowed.ErrorCode, 0);
  EXPECT_EQ(allowed.NewDevices.size(), 2u);
  EXPECT_TRUE(allowed.Notices.empty());
}

// The maker's library as loaded, with a hook that runs on the scan thread before each open.
std::function<void(const char* serial)> before_open;
updater::TQlLibrary::OpenDeviceFn* real_open = nullptr;

uint32_t HookedOpen(uint16_t list_code, const char* serial, uint32_t* handle) {
  if (before_open) {
    before_open(serial);
  }
  return real_open(list_code, serial, handle);
}

// A new tracker's tty vanishes between the listing and its open: the cycle fails as for any
// device that will not open, with no permission line; a known tracker keeps its place and the
// next scan finds the other new one.
TEST(ScanTrackersMixed, TtyVanishingBetweenListingAndOpenCostsOnlyThatCycle) {
  TrackerRig trackers;
  ASSERT_NE(trackers.Ql, nullptr);
  updater::TQlLibrary hooked;
  hooked.QL_GetListDevices = trackers.Ql->QL_GetListDevices;
  hooked.QL_OpenDevice = &HookedOpen;
  hooked.QL_CloseDevice = trackers.Ql->QL_CloseDevice;
  hooked.QL_ReadNotTimeOut = trackers.Ql->QL_ReadNotTimeOut;
  hooked.QL_Write = trackers.Ql->QL_Write;
  hooked.QL_Purge = trackers.Ql->QL_Purge;
  hooked.QL_SetTimeouts = trackers.Ql->QL_SetTimeouts;
  hooked.QL_GetOpenError = trackers.Ql->QL_GetOpenError;
  real_open = trackers.Ql->QL_OpenDevice;

  trackers.Plug(Tracker("950", DriverKind::Maker, TrackerMode::BootLoader));
  ScanRig scans(nullptr, &hooked);
  ScanOutcome known = scans.Run();
  ASSERT_EQ(known.NewDevices.size(), 1u);
  scans.DevList = std::move(known.NewDevices);

  trackers.Plug(Tracker("951", DriverKind::Maker, TrackerMode::BootLoader));
  trackers.Plug(Tracker("952", DriverKind::Maker, TrackerMode::BootLoader));
  before_open = [&](const char* serial) {
    if (std::string(serial) == "951") {
      EXPECT_TRUE(trackers.Host->Unplug("951"));
    }
  };
  const ScanOutcome vanished = scans.Run();
  before_open = nullptr;
  EXPECT_EQ(vanished.ErrorCode, 7);
  EXPECT_TRUE(vanished.Lines.empty());
  EXPECT_TRUE(vanished.Notices.empty());
  EXPECT_FALSE(scans.DevList[0]->Removed);

  const ScanOutcome next = scans.Run();
  EXPECT_EQ(next.ErrorCode, 0);
  ASSERT_EQ(next.NewDevices.size(), 1u);
  EXPECT_EQ(next.NewDevices[0]->Serial, 952);
  EXPECT_FALSE(scans.DevList[0]->Removed);
}

}  // namespace
}  // namespace discovery_test
