// Whole write jobs through the real window: trackers found by its scan, flashed automatically
// with the embedded image, each panel with its own progress. The jobs' own paths are tested on
// the session without a window.

#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "job_window_rig.h"
#include "scan_rig.h"

namespace jobtest {
namespace {

using namespace updater;
using sim::DriverKind;

const QString kSucceeded = QString::fromUtf8("Обновление прошивки завершено успешно");

// Four trackers plugged at once while the window runs: four jobs side by side, each moving
// its own panel's bar from its own progress.
TEST(JobWindow, FourTrackersPluggedAtOnceAreFlashedSideBySide) {
  discovery_test::TrackerRig trackers;
  Window window(true);
  ASSERT_TRUE(Eventually([&] { return window.Idle(); }));
  const std::vector<int32_t> serials = {7201, 7202, 7203, 7204};
  for (int32_t serial : serials) {
    trackers.Plug(BootTracker(std::to_string(serial),
                              serial % 2 == 0 ? DriverKind::Ftdi : DriverKind::Maker));
  }

  // Read at every progress step the window is handed (after its own slot has set the bar):
  // what each bar showed, and how many bars stood between 0 and 100 at the same moment. Taken
  // from the steps, not by sampling, because a loaded machine can deliver a whole job's steps
  // between two samples.
  std::map<int32_t, std::vector<int>> bars;
  size_t most_moving = 0;
  const auto look = [&] {
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
  };
  QObject::connect(&window.Form().Session(), &TUpdaterSession::JobProgress, &window.Form(),
                   [&](uint64_t, int) { look(); });
  ASSERT_TRUE(Eventually([&] {
    return window.Settled(serials.size()) &&
           std::all_of(serials.begin(), serials.end(), [&](int32_t serial) {
             return window.Panel(serial)->lblMessage->text() == kSucceeded;
           });
  }));
  look();

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
