#pragma once
// An updater session without a window, and a record of everything it tells: its log lines and
// its signals, in the order they came. The libraries are handed over by the test (virtual
// trackers' real libraries, or scripted tables).

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "UpdaterSession.h"
#include "scan_rig.h"

namespace session_test {

// Serves the event loop until pred holds; false when it never did within timeout_ms.
bool Eventually(const std::function<bool()>& pred, int timeout_ms = 120000);
// Serves the event loop for about ms.
void Serve(int ms);

class SessionRig {
 public:
  // Either library may be null. The session loads them at once; scans follow its timer.
  SessionRig(std::unique_ptr<updater::TFtdiLibrary> ftdi, std::unique_ptr<updater::TQlLibrary> ql,
             bool auto_write = false);
  ~SessionRig();

  updater::TUpdaterSession& Session() { return *session_; }
  // Ends the session now: its whole shutdown.
  void Close() { session_.reset(); }

  // No scan runs and none is due.
  bool Idle() const;
  // count devices are listed, no job runs and no scan is busy or due.
  bool Settled(size_t count) const;
  const updater::TDevEntry* Device(int32_t serial) const;

  std::vector<discovery_test::Line> lines;  // the event log, prefix taken apart
  std::vector<std::string> events;          // "added 42", "status 42 <text>", "done 42 <code>", ...
  std::map<uint64_t, std::vector<int>> progress;     // by device Id
  std::map<int32_t, updater::TJobOutcome> outcomes;  // by serial

 private:
  std::unique_ptr<updater::TUpdaterSession> session_;
  std::map<uint64_t, int32_t> serials_;  // Id to serial, as devices were added
};

}  // namespace session_test
