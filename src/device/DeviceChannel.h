#pragma once
// Byte exchange with one tracker through the driver library its record names: open, close,
// write a part, write a whole message in paced parts, read one reply with a time-out.
//
// Threads: the channel holds only the library tables (read-only after load) and the clock, so
// one channel may serve several threads at once as long as each device record is used by one
// thread at a time. Nothing is buffered here; every failure is a result, never an exception.

#include <cerrno>
#include <cstdint>
#include <string>

#include "DevEntry.h"
#include "DriverLibraries.h"
#include "Tick.h"

namespace updater {

// The millisecond tick and the sleep the channel paces and polls with. Tests substitute a
// clock that records the pauses instead of taking them.
struct TChannelClock {
  uint32_t (*Tick)() = &TickCount;
  void (*Sleep)(uint32_t ms) = &SleepMs;

  static void SleepMs(uint32_t ms);
};

inline constexpr uint32_t kDevWritePartSize = 64;
inline constexpr uint32_t kFtdiReadTimeoutMs = 1000;
inline constexpr uint32_t kFtdiWriteTimeoutMs = 200;
inline constexpr uint32_t kQlReadTimeoutMs = 500;
inline constexpr uint32_t kQlWriteTimeoutMs = 200;

// Why DevOpen failed, as far as the library tells: its status, and from the maker's library
// also the errno of the tty's open and the tty's path (0 and empty when it cannot say).
struct TOpenFailure {
  uint32_t Status = 0;
  int Errno = 0;
  std::string Path;

  // The tty exists but the user may not open it.
  bool PermissionDenied() const { return Errno == EACCES || Errno == EPERM; }
};

class TDeviceChannel {
 public:
  // Either table may be null: that library is not loaded and its devices fail every call.
  TDeviceChannel(const TFtdiLibrary* ftdi, const TQlLibrary* ql, TChannelClock clock = {});

  // True when the device is open; the record's handle of its driver is set, else left 0. The
  // device is named by the serial text its library listed. why, when given, learns the cause
  // of a failure; it must be asked on the thread that opened.
  bool DevOpen(TDevEntry& dev, TOpenFailure* why = nullptr) const;
  // Closes an open device and clears its handle; a closed record is left alone.
  void DevClose(TDevEntry& dev) const;
  // One library write call; true when the library accepted it. written gets the count sent.
  bool DevWritePart(TDevEntry& dev, const uint8_t* data, uint32_t length, uint32_t& written) const;
  // The whole message in parts of 64 bytes, 1 ms apart; true when every byte went out.
  bool DevWrite(TDevEntry& dev, const uint8_t* data, uint32_t length) const;
  // One reply of at most capacity bytes; the buffer is zeroed up to capacity first. Returns
  // the count received, 0 for none (time-out, failure, closed device).
  int32_t DevRead(TDevEntry& dev, uint8_t* buffer, uint32_t timeout_ms, uint32_t capacity) const;

 private:
  int32_t FtdiRead(TDevEntry& dev, uint8_t* buffer, uint32_t timeout_ms, uint32_t capacity) const;
  int32_t QlRead(TDevEntry& dev, uint8_t* buffer, uint32_t capacity) const;

  const TFtdiLibrary* ftdi_;
  const TQlLibrary* ql_;
  TChannelClock clock_;
};

}  // namespace updater
