#pragma once
// Driver-library tables filled by hand, for tests that must see exact calls or script exact
// replies: a maker's library whose devices answer each read with their next scripted reply,
// and a vendor library whose device list is scripted. One of each may be active at a time
// (the tables are plain C function pointers); the scan thread calls them, the test reads them
// after the scan has ended.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DeviceChannel.h"
#include "DriverLibraries.h"

namespace discovery_test {

using Bytes = std::vector<uint8_t>;

class ScriptedQl {
 public:
  struct Device {
    std::string serial;
    uint16_t listCode = 0;
    bool openable = true;
    std::vector<Bytes> replies;  // one per read, in order; reads beyond them get nothing
    int failWriteAt = 0;         // the Nth write (from 1) fails; 0: none
    // What the device received: "F<code>" for a frame, the text otherwise, "open", "close".
    std::vector<std::string> seen;
    size_t nextReply = 0;
    int writes = 0;
  };

  ScriptedQl();
  ~ScriptedQl();
  ScriptedQl(const ScriptedQl&) = delete;
  ScriptedQl& operator=(const ScriptedQl&) = delete;

  std::vector<Device> devices;
  uint32_t listStatus = 0;       // status of both list calls
  int64_t countOverride = -1;    // count reported by the counting call, when set
  std::function<void()> onList;  // runs inside each list call (may throw)
  std::function<void()> onOpen;  // runs first inside each open call
  int listCalls = 0;

  const updater::TQlLibrary& Table() const { return table_; }
  // A table of the same functions, for an owner that wants its own (the main window's loader).
  std::unique_ptr<updater::TQlLibrary> NewTable() const;

 private:
  updater::TQlLibrary table_;
};

class ScriptedFtdi {
 public:
  struct Node {
    std::string serial;
    std::string description;
    uint32_t flags = 0;  // 1: opened by someone
    uint32_t locId = 0;
  };

  ScriptedFtdi();
  ~ScriptedFtdi();
  ScriptedFtdi(const ScriptedFtdi&) = delete;
  ScriptedFtdi& operator=(const ScriptedFtdi&) = delete;

  std::vector<Node> nodes;
  uint32_t createStatus = 0;
  uint32_t getStatus = 0;
  int createCalls = 0;

  const updater::TFtdiLibrary& Table() const { return table_; }

 private:
  updater::TFtdiLibrary table_;
};

// A clock whose sleeps are recorded instead of taken (only one such clock at a time).
updater::TChannelClock RecordingClock(std::vector<uint32_t>* sleeps);

}  // namespace discovery_test
