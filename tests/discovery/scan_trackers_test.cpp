// Scans against virtual trackers over both real libraries: libZIZUZ for the maker's kind, the
// stand-in D2XX for the FTDI kind, each tracker on its own pseudo-terminal.

#include <gtest/gtest.h>

#include <chrono>

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
  trackers.Plug(Tracker("4244", GetParam(), TrackerMode::Firmware));
  ScanOutcome first = scans.Run();
  ASSERT_EQ(first.NewDevices.size(), 1u);
  ASSERT_TRUE(first.NewDevices[0]->BootStarted);
  scans.DevList = std::move(first.NewDevices);

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

}  // namespace
}  // namespace discovery_test
