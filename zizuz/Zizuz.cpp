// The library's exported functions. Each checks its arguments, finds its port in the handle
// table and works on the port outside the table's lock; nothing here blocks longer than the
// port's time-outs.

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "DeviceDirectory.h"
#include "PortTable.h"
#include "TtyPort.h"
#include "zizuz.h"

namespace {

using ttyport::TIo;

// After the first byte, a reply has ended once the line has been quiet this long.
constexpr int kReplyGapMs = 2;

zizuz::TPortTable& Ports() {
  static zizuz::TPortTable table;
  return table;
}

// The last open failure of this thread, for QL_GetOpenError. Per thread, because the scan and
// the write jobs open devices on threads of their own; plain arrays, because the library may
// be loaded into threads it never sees end.
struct TOpenFailure {
  int Error = 0;
  char Path[512] = {};
};
thread_local TOpenFailure last_open_failure;

void NoteOpenFailure(int error, const std::string& path) {
  last_open_failure.Error = error;
  // The tty itself carries the permissions, not the link that leads to it.
  char* real = ::realpath(path.c_str(), nullptr);
  const std::string shown = real != nullptr ? std::string(real) : path;
  std::free(real);
  const size_t length = std::min(shown.size(), sizeof last_open_failure.Path - 1);
  std::memcpy(last_open_failure.Path, shown.data(), length);
  last_open_failure.Path[length] = '\0';
}

int PollMs(uint32_t ms) {
  return static_cast<int>(std::min<uint32_t>(ms, INT_MAX));
}

// Reads at most capacity bytes of the serial text: the caller's text is outside input.
bool SerialArgument(const char* serial, std::string& text) {
  if (serial == nullptr) {
    return false;
  }
  const size_t length = ::strnlen(serial, zizuz::kMaxSerialDigits + 1);
  text.assign(serial, length);
  return length <= zizuz::kMaxSerialDigits;
}

}  // namespace

extern "C" {

ZIZUZ_API uint32_t QL_GetListDevices(uint32_t filter, void* buffer, uint32_t* count) {
  if (count == nullptr) {
    return ZIZUZ_INVALID_PARAMETER;
  }
  auto devices = zizuz::ListDevices(zizuz::DeviceDirectory());
  if (filter != ZIZUZ_LIST_ALL) {
    std::erase_if(devices,
                  [filter](const zizuz::TListedDevice& d) { return d.Name.Interface != filter; });
  }
  if (buffer == nullptr) {
    *count = static_cast<uint32_t>(devices.size());
    return ZIZUZ_OK;
  }
  const size_t filled = std::min<size_t>(*count, devices.size());
  auto* records = static_cast<unsigned char*>(buffer);
  for (size_t i = 0; i < filled; ++i) {
    unsigned char* record = records + i * ZIZUZ_RECORD_SIZE;
    std::memset(record, 0, ZIZUZ_RECORD_SIZE);
    const auto position = static_cast<uint16_t>(std::min<size_t>(i, 0xFFFF));
    const uint16_t list_code = devices[i].Name.Interface;
    std::memcpy(record, &position, sizeof position);
    std::memcpy(record + 2, &list_code, sizeof list_code);
    // At most 20 digits by the naming rule, so the NUL always fits.
    std::memcpy(record + 4, devices[i].Name.Serial.data(), devices[i].Name.Serial.size());
  }
  *count = static_cast<uint32_t>(filled);
  return ZIZUZ_OK;
}

ZIZUZ_API uint32_t QL_OpenDevice(uint16_t list_code, const char* serial, uint32_t* handle) {
  if (handle == nullptr) {
    return ZIZUZ_INVALID_PARAMETER;
  }
  *handle = 0;
  last_open_failure = {};
  std::string wanted;
  if (!SerialArgument(serial, wanted)) {
    return serial == nullptr ? ZIZUZ_INVALID_PARAMETER : ZIZUZ_DEVICE_NOT_FOUND;
  }
  bool found = false;
  for (const auto& device : zizuz::ListDevices(zizuz::DeviceDirectory())) {
    if ((list_code != ZIZUZ_LIST_ALL && device.Name.Interface != list_code) ||
        !zizuz::SameSerial(device.Name.Serial, wanted)) {
      continue;
    }
    found = true;
    auto tty = ttyport::TTtyPort::Open(device.Path);
    if (!tty) {
      NoteOpenFailure(errno, device.Path);
      continue;  // vanished since the listing, not a tty after all, or not ours to open
    }
    last_open_failure = {};
    const uint32_t opened = Ports().Add(std::make_shared<zizuz::TOpenPort>(std::move(tty)));
    if (opened == 0) {
      return ZIZUZ_INSUFFICIENT_RESOURCES;
    }
    *handle = opened;
    return ZIZUZ_OK;
  }
  return found ? ZIZUZ_DEVICE_NOT_OPENED : ZIZUZ_DEVICE_NOT_FOUND;
}

ZIZUZ_API uint32_t QL_CloseDevice(uint32_t* handle) {
  if (handle == nullptr) {
    return ZIZUZ_INVALID_PARAMETER;
  }
  const uint32_t closing = *handle;
  *handle = 0;
  // The port closes when the last call still using it returns.
  return Ports().Remove(closing) ? ZIZUZ_OK : ZIZUZ_INVALID_HANDLE;
}

ZIZUZ_API uint32_t QL_ReadNotTimeOut(uint32_t handle, void* buffer, uint32_t capacity,
                                     uint32_t* count) {
  if (count == nullptr) {
    return ZIZUZ_INVALID_PARAMETER;
  }
  *count = 0;
  if (buffer == nullptr && capacity != 0) {
    return ZIZUZ_INVALID_PARAMETER;
  }
  const auto port = Ports().Find(handle);
  if (!port) {
    return ZIZUZ_INVALID_HANDLE;
  }
  if (capacity == 0) {
    return ZIZUZ_OK;
  }
  const uint32_t read_ms = port->ReadMs;
  const TIo first = port->Tty->WaitReadable(PollMs(read_ms));
  if (first != TIo::kOk) {
    return first == TIo::kTimeout ? ZIZUZ_TIMEOUT : ZIZUZ_IO_ERROR;
  }
  // A device that keeps trickling bytes cannot hold the caller longer than one more time-out.
  const int64_t gather_deadline = ttyport::NowMs() + read_ms;
  auto* bytes = static_cast<uint8_t*>(buffer);
  size_t got = 0;
  bool gone = false;
  for (;;) {
    size_t n = 0;
    gone = port->Tty->ReadAvailable(bytes + got, capacity - got, n) == TIo::kGone || gone;
    got += n;
    if (gone || got == capacity) {
      break;
    }
    const int left = ttyport::RemainingMs(gather_deadline);
    if (left == 0) {
      break;
    }
    const TIo more = port->Tty->WaitReadable(std::min(kReplyGapMs, left));
    if (more == TIo::kTimeout) {
      break;
    }
    gone = more == TIo::kGone;
  }
  *count = static_cast<uint32_t>(got);
  return got == 0 && gone ? ZIZUZ_IO_ERROR : ZIZUZ_OK;
}

ZIZUZ_API uint32_t QL_Write(uint32_t handle, const void* data, uint32_t length, uint32_t* written) {
  if (written == nullptr) {
    return ZIZUZ_INVALID_PARAMETER;
  }
  *written = 0;
  if (data == nullptr && length != 0) {
    return ZIZUZ_INVALID_PARAMETER;
  }
  const auto port = Ports().Find(handle);
  if (!port) {
    return ZIZUZ_INVALID_HANDLE;
  }
  size_t sent = 0;
  const TIo io =
      port->Tty->Write(static_cast<const uint8_t*>(data), length, PollMs(port->WriteMs), sent);
  *written = static_cast<uint32_t>(sent);
  switch (io) {
    case TIo::kOk:
      return ZIZUZ_OK;
    case TIo::kTimeout:
      return ZIZUZ_TIMEOUT;
    case TIo::kGone:
      break;
  }
  return ZIZUZ_IO_ERROR;
}

ZIZUZ_API uint32_t QL_Purge(uint32_t handle) {
  const auto port = Ports().Find(handle);
  if (!port) {
    return ZIZUZ_INVALID_HANDLE;
  }
  if (!port->Tty->Alive()) {
    return ZIZUZ_IO_ERROR;
  }
  port->Tty->Purge(true, true);
  return ZIZUZ_OK;
}

ZIZUZ_API uint32_t QL_SetTimeouts(uint32_t handle, uint32_t read_ms, uint32_t write_ms) {
  const auto port = Ports().Find(handle);
  if (!port) {
    return ZIZUZ_INVALID_HANDLE;
  }
  port->ReadMs = read_ms;
  port->WriteMs = write_ms;
  return ZIZUZ_OK;
}

ZIZUZ_API uint32_t QL_GetOpenError(int32_t* error, char* path, uint32_t path_size) {
  if (error == nullptr || (path == nullptr && path_size != 0)) {
    return ZIZUZ_INVALID_PARAMETER;
  }
  *error = last_open_failure.Error;
  if (path != nullptr && path_size != 0) {
    const size_t length = std::min<size_t>(::strlen(last_open_failure.Path), path_size - 1);
    std::memcpy(path, last_open_failure.Path, length);
    path[length] = '\0';
  }
  return ZIZUZ_OK;
}

}  // extern "C"
