#pragma once
// Test rigs for the scan thread: one scan run to its end on this thread's dispatcher, over
// library tables given by the test; virtual trackers served in-process and published in a
// temporary directory that both real libraries (libZIZUZ and the stand-in D2XX) look at.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DevEntry.h"
#include "Dispatcher.h"
#include "DriverLibraries.h"
#include "ReadVersion.h"
#include "TrackerHost.h"

namespace discovery_test {

using Bytes = std::vector<uint8_t>;

struct Line {
  int kind = 0;
  int32_t serial = 0;
  std::string text;
  bool operator==(const Line&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Line& line);

// The folder of the test executable, with a trailing separator.
std::string BinDir();

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

struct ScanOutcome {
  int32_t ErrorCode = -1;
  int32_t LastReply = -1;
  updater::TDevList NewDevices;  // taken over from the ended scan
  std::vector<Line> Lines;
  std::vector<Line> Notices;  // the lines the end handler writes after the error line
};

// Runs scans the way the main window does: one thread, its lines written on this thread,
// its result taken over by the end handler.
class ScanRig {
 public:
  ScanRig(const updater::TFtdiLibrary* ftdi, const updater::TQlLibrary* ql,
          updater::TChannelClock clock = {});
  ~ScanRig();

  ScanOutcome Run();

  updater::TDispatcher Dispatcher;
  updater::TDevList DevList;
  std::mutex DevListLock;
  updater::TScanNotices Notices;  // shared by every scan of the rig, as the window's

 private:
  const updater::TFtdiLibrary* ftdi_;
  const updater::TQlLibrary* ql_;
  updater::TChannelClock clock_;
};

// Virtual trackers published in a temporary directory; both libraries loaded and pointed at it.
class TrackerRig {
 public:
  explicit TrackerRig(int replug_ms = 60000);
  ~TrackerRig();

  // Adds and plugs in one tracker; waits until it is visible.
  void Plug(updater::sim::TrackerConfig config);

  TempDir Dir;
  std::unique_ptr<updater::TFtdiLibrary> Ftdi;
  std::unique_ptr<updater::TQlLibrary> Ql;
  std::unique_ptr<updater::sim::TrackerHost> Host;
};

updater::sim::TrackerConfig Tracker(const std::string& serial, updater::sim::DriverKind driver,
                                    updater::sim::TrackerMode mode);

// A compact view of what a tracker received: "F4" for a frame of code 4, the text otherwise.
std::vector<std::string> Received(const updater::sim::TrackerHost& host, const std::string& serial);

}  // namespace discovery_test
