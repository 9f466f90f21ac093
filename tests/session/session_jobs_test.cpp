// Write jobs owned by the session, without a window, and the orders of events that used to
// touch destroyed objects: shutdown while eight jobs and a scan run, a tracker re-plugged in the
// middle of its job, a job's progress arriving after its device went.

#include <gtest/gtest.h>

#include "WriteThread.h"
#include "session_rig.h"

namespace session_test {
namespace {

using namespace updater;
using discovery_test::Tracker;
using discovery_test::TrackerRig;
using sim::DriverKind;
using sim::TrackerMode;

sim::TrackerConfig BootTracker(const std::string& serial, DriverKind driver) {
  sim::TrackerConfig config = Tracker(serial, driver, TrackerMode::BootLoader);
  config.processorId = 0x26013F37;
  config.bootVersion = "BOOT-1.05";
  config.firmwareVersion = "ROZI-1.15";
  return config;
}

TEST(SessionJobs, ShutdownDuringEightJobsAndAScanEndsEveryJobAndDropsEveryDevice) {
  TrackerRig trackers;
  for (int i = 0; i < 8; ++i) {
    sim::TrackerConfig config =
        BootTracker(std::to_string(8100 + i), i % 2 == 0 ? DriverKind::Maker : DriverKind::Ftdi);
    config.faults.delayMs = 5;  // long enough jobs to be cut short
    trackers.Plug(config);
  }
  SessionRig rig(std::move(trackers.Ftdi), std::move(trackers.Ql), true);
  ASSERT_TRUE(Eventually([&] {
    size_t moving = 0;
    for (const auto& [id, steps] : rig.progress) {
      moving += steps.empty() ? 0 : 1;
    }
    return moving == 8;
  }));
  // A scan in flight as well: a device change brings one at once.
  rig.Session().DeviceChange();
  rig.Session().StartScan();

  rig.Close();
  EXPECT_EQ(rig.outcomes.size(), 8u) << "every job's end handler ran";
  for (const auto& [serial, outcome] : rig.outcomes) {
    EXPECT_TRUE(outcome.ResultCode == kWriteInterrupted || outcome.ResultCode == kWriteSucceeded)
        << serial << ": " << outcome.ResultCode;
  }
  EXPECT_EQ(std::count_if(rig.events.begin(), rig.events.end(),
                          [](const std::string& e) { return e.rfind("removed ", 0) == 0; }),
            8);
}

// Pulled out and plugged in again while its job runs: the job stops at its next sector (the
// tracker has started afresh), its failure is shown, and the tracker stays listed for the next
// job, which succeeds.
TEST(SessionJobs, ATrackerReplugedMidJobEndsThatJobAndCanBeWrittenAgain) {
  TrackerRig trackers;
  sim::TrackerConfig config = BootTracker("8201", DriverKind::Ftdi);
  config.faults.delayMs = 5;
  trackers.Plug(config);
  SessionRig rig(std::move(trackers.Ftdi), std::move(trackers.Ql), true);
  ASSERT_TRUE(
      Eventually([&] { return !rig.progress.empty() && !rig.progress.begin()->second.empty(); }));
  ASSERT_TRUE(trackers.Host->Unplug("8201"));
  ASSERT_TRUE(trackers.Host->Plug("8201"));
  ASSERT_TRUE(Eventually([&] { return rig.outcomes.count(8201) != 0 && rig.Settled(1); }));
  EXPECT_NE(rig.outcomes[8201].ResultCode, kWriteSucceeded);
  const TDevEntry* device = rig.Device(8201);
  ASSERT_NE(device, nullptr);

  rig.outcomes.clear();
  rig.Session().RequestWrite(device->Id);
  ASSERT_TRUE(Eventually([&] { return rig.outcomes.count(8201) != 0 && rig.Settled(1); }));
  EXPECT_EQ(rig.outcomes[8201].ResultCode, kWriteSucceeded);
  EXPECT_EQ(trackers.Host->Status("8201").finish, sim::FinishState::Succeeded);
}

}  // namespace
}  // namespace session_test
