// Closing the window while trackers are being written: every job is stopped and awaited before
// the device records, their panels and the window go, and every device is closed. Run under
// AddressSanitizer, a job that touched a destroyed record or panel would be caught here.

#include <gtest/gtest.h>

#include <QProgressBar>
#include <string>
#include <string_view>
#include <vector>

#include "job_window_rig.h"
#include "scan_rig.h"

namespace jobtest {
namespace {

using namespace updater;
using sim::DriverKind;

TEST(JobShutdown, ClosingTheWindowWhileFourJobsRunStopsAndAwaitsThemAndClosesEveryDevice) {
  discovery_test::TrackerRig trackers;
  const std::vector<int32_t> serials = {7601, 7602, 7603, 7604};
  for (int32_t serial : serials) {
    sim::TrackerConfig config =
        BootTracker(std::to_string(serial), serial % 2 == 0 ? DriverKind::Ftdi : DriverKind::Maker);
    config.faults.delayMs = 3;  // jobs of some seconds: they are surely running at the close
    trackers.Plug(config);
  }
  Window window(true);
  TMainForm& form = window.Form();
  ASSERT_TRUE(Eventually([&] {
    if (form.Session().DeviceCount() != serials.size()) {
      return false;
    }
    for (int32_t serial : serials) {
      const TFWLoaderDevGroup* panel = window.Panel(serial);
      if (panel == nullptr || panel->pbWrite->value() == 0 ||
          !form.Session().JobRunning(window.Device(serial)->Id)) {
        return false;
      }
    }
    return true;
  })) << "the four jobs were never under way together";
  ASSERT_GT(OpenDevices(), 0);

  // What the shutdown sequence finds when it comes to closing the devices.
  size_t workers_at_close = 99;
  size_t records_at_close = 0;
  form.OnStep = [&](std::string_view step) {
    if (step == "CloseDevices") {
      workers_at_close = form.Session().Dispatcher().LiveWorkers();
      records_at_close = form.Session().DeviceCount();
    }
  };
  window.Close();

  EXPECT_EQ(workers_at_close, 0u);
  EXPECT_EQ(records_at_close, serials.size());
  EXPECT_EQ(OpenDevices(), 0);
  for (int32_t serial : serials) {
    const std::string name = std::to_string(serial);
    SCOPED_TRACE(name);
    // A job cut short is not a success: the tracker hears the failure finish, if anything.
    EXPECT_NE(trackers.Host->Status(name).finish, sim::FinishState::Succeeded);
    // Nothing reaches a tracker once the window is gone.
    const size_t requests = trackers.Host->Status(name).requests;
    EXPECT_FALSE(trackers.Host->WaitRequests(name, requests + 1, std::chrono::milliseconds(200)));
  }
}

}  // namespace
}  // namespace jobtest
