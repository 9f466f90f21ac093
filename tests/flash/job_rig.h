#pragma once
// What the write-job tests share: a main window stand-in that records what a job hands over,
// virtual trackers served in-process and reached through both real driver libraries, and a
// way to run one job to its end handler.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DevEntry.h"
#include "DeviceChannel.h"
#include "Dispatcher.h"
#include "DriverLibraries.h"
#include "TrackerConfig.h"
#include "TrackerHost.h"
#include "WriteHost.h"
#include "WriteThread.h"

namespace flashtest {

using namespace updater;

struct LoggedLine {
  int kind;
  int32_t serial;
  std::string text;
};

// Records lines and progress (the job's thread) and hands out an image the test builds
// (main thread). The records are the test's to read once the job has ended; while it runs,
// only through ProgressSteps().
class RecordingHost : public TWriteHost {
 public:
  // Image: payload and version below; Embedded: the program's own image through the image
  // check, as the main window loads it.
  enum class LoadMode { Image, Embedded, Fail, Oversize };

  LoadMode mode = LoadMode::Image;
  std::vector<uint8_t> payload;  // one block, as the loader gives it
  int32_t address = -1;
  TFirmwareVersion version;
  // Runs on the job's thread after each recorded line, e.g. to stop the job like the scan does.
  std::function<void(const LoggedLine&)> on_line;

  std::vector<LoggedLine> lines;
  std::vector<int> progress;
  int loads = 0;

  size_t ProgressSteps() const { return progress_steps_.load(); }

  bool LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& loaded) override;
  void LogDevLine(int kind, int32_t serial, const std::string& text) override;
  void ShowProgress(TDevEntry& device, int percent) override;

  // The lines' texts with the elapsed-time prefix "(% 6d)" replaced by "(T)"; a prefix that is
  // not at least six characters wide is left alone, so the comparison fails on it.
  std::vector<std::string> Texts() const;
  bool Has(int kind, const std::string& text) const;

 private:
  std::atomic<size_t> progress_steps_{0};
};

// What the end handler saw.
struct JobOutcome {
  bool ended = false;
  int32_t result = -1;
  int32_t last_reply = -1;
  int32_t first_sector = -1;
  int32_t last_sector = -1;
  int32_t total_parts = -1;
  int32_t parts_done = -1;
  int32_t serial = 0;
};

// Trackers on pseudo-terminals, published in private directories that the two libraries are
// pointed at. One per test; the libraries are loaded once per process.
class TrackerRig {
 public:
  TrackerRig();
  ~TrackerRig();

  bool Add(const sim::TrackerConfig& config);
  sim::TrackerHost& Host() { return *host_; }
  const TDeviceChannel& Channel() const;

  // A device record as the scan would have filled it for the tracker in its boot loader.
  std::unique_ptr<TDevEntry> Device(const sim::TrackerConfig& config) const;

 private:
  std::unique_ptr<sim::TrackerHost> host_;
};

// Starts a job for device and serves the main thread until its end handler has run.
// before_start may keep a pointer to the job (it is freed once it has ended).
JobOutcome RunJob(TDispatcher& dispatcher, TWriteHost& host, const TDeviceChannel& channel,
                  TDevEntry& device, const std::function<void(TWriteThread&)>& before_start = {});

// Creates a job (not started) whose end handler fills outcome; the caller frees it after that.
std::unique_ptr<TWriteThread> MakeJob(TDispatcher& dispatcher, TWriteHost& host,
                                      const TDeviceChannel& channel, TDevEntry& device,
                                      JobOutcome& outcome);

// A version record as Parse would fill it.
TFirmwareVersion Version(const std::string& family, uint16_t number,
                         const std::string& suffix = "");

// The tracker's request log in short: "e4" erase of sector 4, "w4x8" eight write parts of
// sector 4 in a row, "F" finishing with success, "f" with failure, "?<code>" anything else.
std::string Summary(const std::vector<sim::RequestRecord>& requests);

}  // namespace flashtest
