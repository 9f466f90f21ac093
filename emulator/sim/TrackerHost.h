#pragma once
// Serves virtual trackers (the maker's kind on pseudo-terminals, the FTDI kind on Unix-domain
// sockets) and publishes them where the driver libraries look for devices. Threads: each
// tracker has one thread of its own that owns its port, reads requests, answers them and
// publishes/withdraws its entry; the model and the tracker's visible state are guarded by the
// tracker's mutex, so the calls below are safe from any thread. Event callbacks come from the
// tracker threads, one at a time.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Tracker.h"
#include "TrackerConfig.h"
#include "TrackerPublisher.h"

namespace updater::sim {

struct HostOptions {
  PublishDirs dirs = DefaultPublishDirs();
  int replugMs = 500;  // a tracker that answered "STARTED" is back after this long
  int resyncMs = 50;   // a partial request is forgotten after this much silence
  int drainMs = 1000;  // before going away, wait this long at most for the client to read
  // One line per event: "published", "withdrawn", "vanished", "request", "finished", "error".
  std::function<void(const std::string&)> onEvent;
};

struct TrackerStatus {
  bool known = false;
  bool plugged = false;
  bool vanished = false;  // went away by its vanish switch and stays away until Plug
  TrackerMode mode = TrackerMode::BootLoader;
  std::string slavePath;  // the pty (maker's) or socket file (FTDI) while plugged, else empty
  std::string entryPath;  // the published link (present only while plugged)
  size_t requests = 0;    // records in the request log
  int frames = 0;         // boot-loader frames received
  int forgotten = 0;      // partial requests dropped after resyncMs of silence
  FinishState finish = FinishState::None;
};

class TrackerHost {
 public:
  explicit TrackerHost(HostOptions options = {});
  ~TrackerHost();  // stops and withdraws everything
  TrackerHost(const TrackerHost&) = delete;
  TrackerHost& operator=(const TrackerHost&) = delete;

  // Adds a tracker (plugged in at once when the host runs). False for an empty or duplicate
  // serial number.
  bool Add(TrackerConfig config, std::string* error = nullptr);
  // Starts serving: every tracker is plugged in.
  void Start();
  // Withdraws every tracker and ends the threads; the models stay readable.
  void Stop();

  // Both wait until the change is visible; false when the serial is unknown or it timed out.
  bool Plug(const std::string& serial,
            std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  bool Unplug(const std::string& serial,
              std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

  std::vector<std::string> Serials() const;
  TrackerStatus Status(const std::string& serial) const;
  std::vector<RequestRecord> Requests(const std::string& serial) const;
  std::vector<uint8_t> Flash(const std::string& serial) const;
  // The sector map the tracker's flash is laid out by.
  SimSectorMap SectorMap(const std::string& serial) const;

  // Writes "<serial>.flash" and "<serial>.log" into dir.
  bool Dump(const std::string& serial, const std::string& dir, std::string* error = nullptr);
  bool DumpAll(const std::string& dir, std::string* error = nullptr);

  // Waits until pred holds for the tracker's status; false on time-out or unknown serial.
  bool WaitUntil(const std::string& serial, const std::function<bool(const TrackerStatus&)>& pred,
                 std::chrono::milliseconds timeout) const;
  bool WaitPlugged(const std::string& serial, TrackerMode mode,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;
  bool WaitUnplugged(const std::string& serial,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;
  bool WaitRequests(const std::string& serial, size_t count,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;

 private:
  struct Slot;

  void StartSlot(Slot& slot);
  void Run(Slot& slot);
  void Perform(Slot& slot, const TrackerAction& action, bool& gone);
  void PlugIn(Slot& slot);
  void TakeOut(Slot& slot, const char* event, bool intoBootLoader = false);
  void WaitForClientToRead(Slot& slot);
  void Sleep(Slot& slot, int ms);
  void Emit(const std::string& line);
  void Notify();
  Slot* Find(const std::string& serial) const;
  TrackerStatus StatusOf(const Slot& slot) const;

  HostOptions options_;
  mutable std::mutex mutex_;  // guards slots_ and started_; waits use cv_ with it
  mutable std::condition_variable cv_;
  std::map<std::string, std::unique_ptr<Slot>> slots_;
  bool started_ = false;
  std::mutex emitMutex_;  // one event callback at a time
};

}  // namespace updater::sim
