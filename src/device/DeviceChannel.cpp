#include "DeviceChannel.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <string>
#include <thread>

namespace updater {

namespace {

// Both libraries open a device by the serial text they listed: the vendor's compares it as
// text. A record made without one (by hand) is named by its number.
std::string SerialText(const TDevEntry& dev) {
  return dev.SerialText.empty() ? std::to_string(dev.Serial) : dev.SerialText;
}

// A library's count is outside input: never more than was asked for, and it must fit the
// signed result.
int32_t BoundedCount(uint32_t reported, uint32_t asked) {
  const uint32_t count = std::min(reported, asked);
  return static_cast<int32_t>(
      std::min<uint32_t>(count, static_cast<uint32_t>(std::numeric_limits<int32_t>::max())));
}

}  // namespace

// The kernel wakes a sleeper some tens of microseconds after its time, and a request of eight
// paced parts pays that eight times: 5% of a job on an idle machine. So the sleep ends a little
// before the deadline, by the lateness this thread's wake-ups have shown, and the rest is
// waited out on the processor. The pause is never shorter than asked; on a busy machine the
// wake-ups are late anyway and the short wait costs nothing.
void TChannelClock::SleepMs(uint32_t ms) {
  using Clock = std::chrono::steady_clock;
  constexpr Clock::duration kMostEarly = std::chrono::microseconds(200);
  thread_local Clock::duration lateness = std::chrono::microseconds(50);

  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  const Clock::time_point wake = deadline - std::min(lateness, kMostEarly);
  std::this_thread::sleep_until(wake);
  const Clock::duration late = Clock::now() - wake;
  // A moving average over about eight wake-ups follows a machine that gets busier or quieter.
  lateness += (std::max(late, Clock::duration::zero()) - lateness) / 8;
  while (Clock::now() < deadline) {
  }
}

TDeviceChannel::TDeviceChannel(const TFtdiLibrary* ftdi, const TQlLibrary* ql, TChannelClock clock)
    : ftdi_(ftdi), ql_(ql), clock_(clock) {}

bool TDeviceChannel::DevOpen(TDevEntry& dev, TOpenFailure* why) const {
  TOpenFailure ignored;
  TOpenFailure& failure = why != nullptr ? *why : ignored;
  failure = {};
  const std::string serial = SerialText(dev);
  if (dev.Driver == kDriverFtdi) {
    if (ftdi_ == nullptr) {
      return false;
    }
    FT_HANDLE handle = nullptr;
    const FT_STATUS status =
        ftdi_->FT_OpenEx(const_cast<char*>(serial.c_str()), FT_OPEN_BY_SERIAL_NUMBER, &handle);
    if (status != FT_OK || handle == nullptr) {
      failure.Status = status;
      dev.FtHandle = nullptr;
      return false;
    }
    dev.FtHandle = handle;
    ftdi_->FT_SetTimeouts(handle, kFtdiReadTimeoutMs, kFtdiWriteTimeoutMs);
    return true;
  }
  if (ql_ == nullptr) {
    return false;
  }
  uint32_t handle = 0;
  const uint32_t status = ql_->QL_OpenDevice(dev.ListCode, serial.c_str(), &handle);
  if (status != 0 || handle == 0) {
    failure.Status = status;
    if (why != nullptr && ql_->QL_GetOpenError != nullptr) {
      char path[512] = {};
      int32_t error = 0;
      if (ql_->QL_GetOpenError(&error, path, sizeof path) == 0) {
        failure.Errno = error;
        failure.Path = path;
      }
    }
    dev.QlHandle = 0;
    return false;
  }
  dev.QlHandle = handle;
  ql_->QL_SetTimeouts(handle, kQlReadTimeoutMs, kQlWriteTimeoutMs);
  return true;
}

void TDeviceChannel::DevClose(TDevEntry& dev) const {
  if (dev.Driver == kDriverFtdi) {
    if (ftdi_ == nullptr || dev.FtHandle == nullptr) {
      return;
    }
    ftdi_->FT_ResetDevice(dev.FtHandle);
    ftdi_->FT_Close(dev.FtHandle);
    dev.FtHandle = nullptr;
    return;
  }
  if (ql_ == nullptr || dev.QlHandle == 0) {
    return;
  }
  ql_->QL_CloseDevice(&dev.QlHandle);
  dev.QlHandle = 0;
}

bool TDeviceChannel::DevWritePart(TDevEntry& dev, const uint8_t* data, uint32_t length,
                                  uint32_t& written) const {
  written = 0;
  if (data == nullptr && length != 0) {
    return false;
  }
  if (dev.Driver == kDriverFtdi) {
    if (ftdi_ == nullptr || dev.FtHandle == nullptr) {
      return false;
    }
    DWORD count = 0;
    // The vendor's prototype takes a non-const buffer; it does not write to it.
    const FT_STATUS status =
        ftdi_->FT_Write(dev.FtHandle, const_cast<uint8_t*>(data), length, &count);
    written = count;
    return status == FT_OK;
  }
  if (ql_ == nullptr || dev.QlHandle == 0) {
    return false;
  }
  uint32_t count = 0;
  const uint32_t status = ql_->QL_Write(dev.QlHandle, data, length, &count);
  written = count;
  return status == 0;
}

bool TDeviceChannel::DevWrite(TDevEntry& dev, const uint8_t* data, uint32_t length) const {
  uint32_t offset = 0;
  while (offset < length) {
    if (offset != 0) {
      clock_.Sleep(1);  // the devices take a message in paced parts
    }
    const uint32_t part = std::min(kDevWritePartSize, length - offset);
    uint32_t written = 0;
    if (!DevWritePart(dev, data + offset, part, written) || written != part) {
      return false;
    }
    offset += part;
  }
  return true;
}

int32_t TDeviceChannel::DevRead(TDevEntry& dev, uint8_t* buffer, uint32_t timeout_ms,
                                uint32_t capacity) const {
  if (buffer == nullptr) {
    return 0;
  }
  // Zeroed whatever happens below, so a caller never sees an earlier reply's bytes.
  std::memset(buffer, 0, capacity);
  return dev.Driver == kDriverFtdi ? FtdiRead(dev, buffer, timeout_ms, capacity)
                                   : QlRead(dev, buffer, capacity);
}

// Polls the receive queue every millisecond so that this time-out, not the library's, governs
// the wait; a reply is whatever has arrived 1 ms after its first byte, or the capacity when
// that much is queued at once.
int32_t TDeviceChannel::FtdiRead(TDevEntry& dev, uint8_t* buffer, uint32_t timeout_ms,
                                 uint32_t capacity) const {
  const uint32_t start = clock_.Tick();
  if (ftdi_ == nullptr || dev.FtHandle == nullptr) {
    return 0;
  }
  DWORD queued = 0;
  DWORD tx_queued = 0;
  DWORD events = 0;
  for (;;) {
    if (static_cast<uint32_t>(clock_.Tick() - start) > timeout_ms) {
      return 0;
    }
    queued = 0;
    // A failed status query means the device is gone; waiting longer brings nothing.
    if (ftdi_->FT_GetStatus(dev.FtHandle, &queued, &tx_queued, &events) != FT_OK) {
      return 0;
    }
    if (queued != 0) {
      break;
    }
    clock_.Sleep(1);
  }
  // The settle lets the rest of a reply arrive; when the capacity is queued already, the read
  // takes no more than that anyway, so waiting would only slow every request down.
  if (queued < capacity) {
    clock_.Sleep(1);
    queued = 0;
    if (ftdi_->FT_GetStatus(dev.FtHandle, &queued, &tx_queued, &events) != FT_OK) {
      return 0;
    }
  }
  const DWORD wanted = std::min<DWORD>(queued, capacity);
  if (wanted == 0) {
    return 0;
  }
  DWORD got = 0;
  if (ftdi_->FT_Read(dev.FtHandle, buffer, wanted, &got) != FT_OK) {
    return 0;
  }
  return BoundedCount(got, wanted);
}

// One library read: the library's own read time-out, set at open, governs the wait.
int32_t TDeviceChannel::QlRead(TDevEntry& dev, uint8_t* buffer, uint32_t capacity) const {
  if (ql_ == nullptr || dev.QlHandle == 0) {
    return 0;
  }
  uint32_t count = 0;
  ql_->QL_ReadNotTimeOut(dev.QlHandle, buffer, capacity, &count);
  return BoundedCount(count, capacity);
}

}  // namespace updater
