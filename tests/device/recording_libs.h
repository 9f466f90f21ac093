#pragma once
// A recording fake of both driver libraries, for tests that must see the exact calls the
// channel makes. It plays one device: bytes scheduled to arrive at given ticks of a fake
// clock, which advances only when the channel sleeps. Single-threaded use only.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DeviceChannel.h"
#include "DriverLibraries.h"

namespace recording {

struct TScript {
  // Open: the status and handle the library reports.
  uint32_t OpenStatus = 0;
  bool OpenGivesHandle = true;
  // Write: the status, and how many bytes short the call numbered ShortWriteCall falls.
  uint32_t WriteStatus = 0;
  int ShortWriteCall = -1;
  // Read: bytes arriving at a tick; the status calls report and the count a read claims.
  std::multimap<uint32_t, std::string> Arrivals;
  uint32_t StatusResult = 0;
  uint32_t ReadStatus = 0;
  uint32_t ClaimedExtra = 0;  // a library that reports more than it was asked for
};

extern TScript Script;
extern std::vector<std::string> Calls;  // "FT_Write 64", "sleep 1", ...
extern uint32_t Now;                    // the fake tick

// Clears calls, script, clock and the device's queue.
void Reset();
// Bytes that have arrived and not been read.
std::string Queued();

std::unique_ptr<updater::TFtdiLibrary> FtdiTable();
std::unique_ptr<updater::TQlLibrary> QlTable();
updater::TChannelClock Clock();

// The handles the fake hands out.
inline void* const kFtHandle = reinterpret_cast<void*>(0x5000);
inline constexpr uint32_t kQlHandle = 7;

}  // namespace recording
