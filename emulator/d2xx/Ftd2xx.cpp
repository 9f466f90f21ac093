// The stand-in D2XX library: the vendor's 21 functions with the vendor's types, serving the
// virtual trackers of SimDirectory.h. The types are declared here from the vendor's published
// interface, independently of the program's own declarations, so that a mistaken reading of
// the interface cannot hide itself in both.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "HandleRegistry.h"
#include "SimDirectory.h"
#include "SocketLine.h"

#define FT_API extern "C" __attribute__((visibility("default")))

namespace {

using FT_STATUS = uint32_t;
using FT_HANDLE = void*;
using DWORD = uint32_t;
using ULONG = uint32_t;
using USHORT = uint16_t;
using UCHAR = uint8_t;

struct FT_DEVICE_LIST_INFO_NODE {
  ULONG Flags;
  ULONG Type;
  ULONG ID;
  DWORD LocId;
  char SerialNumber[16];
  char Description[64];
  FT_HANDLE ftHandle;
};

enum : FT_STATUS {
  FT_OK = 0,
  FT_INVALID_HANDLE = 1,
  FT_DEVICE_NOT_FOUND = 2,
  FT_DEVICE_NOT_OPENED = 3,
  FT_IO_ERROR = 4,
  FT_INVALID_PARAMETER = 6,
  FT_NOT_SUPPORTED = 17,
};

constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2;
constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000;
constexpr DWORD FT_LIST_BY_INDEX = 0x40000000;
constexpr ULONG FT_FLAGS_OPENED = 1;
constexpr ULONG FT_DEVICE_232R = 5;
constexpr ULONG kVendorProductId = 0x04036001;
// Purging what waits to be sent (2) has nothing to drop: the socket takes every byte at once.
constexpr ULONG FT_PURGE_RX = 1;

using d2xxsim::Registry;
using d2xxsim::TOpenDevice;
using d2xxsim::TSimDevice;
using ttyport::TIo;

// The list FT_CreateDeviceInfoList takes and FT_GetDeviceInfoList hands out, as the vendor
// keeps it between the two calls.
std::mutex info_mutex;
std::vector<TSimDevice> info_list;
bool info_taken = false;

int WaitMs(uint32_t ms) {
  return ms == 0 ? ttyport::kWaitForever : static_cast<int>(std::min<uint32_t>(ms, INT_MAX));
}

void CopyField(char* field, size_t size, const std::string& text) {
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

FT_STATUS OpenListed(const TSimDevice& device, FT_HANDLE* handle) {
  if (device.HeldByOther) {
    return FT_DEVICE_NOT_OPENED;
  }
  auto line = d2xxsim::TSocketLine::Connect(device.Path);
  if (!line) {
    return FT_DEVICE_NOT_OPENED;
  }
  auto open = std::make_shared<TOpenDevice>();
  open->Line = std::move(line);
  open->Serial = device.Serial;
  open->Description = device.Description;
  void* added = Registry().Add(std::move(open));
  if (added == nullptr) {
    return FT_DEVICE_NOT_OPENED;  // open already
  }
  *handle = added;
  return FT_OK;
}

}  // namespace

FT_API FT_STATUS FT_CreateDeviceInfoList(DWORD* lpdwNumDevs) {
  if (lpdwNumDevs == nullptr) {
    return FT_INVALID_PARAMETER;
  }
  std::lock_guard<std::mutex> lock(info_mutex);
  info_list = d2xxsim::ListSimDevices(d2xxsim::SimDirectory());
  info_taken = true;
  *lpdwNumDevs = static_cast<DWORD>(info_list.size());
  return FT_OK;
}

// Fills one node per device of the last FT_CreateDeviceInfoList, as the vendor does: the
// caller sizes the array by that call's count.
FT_API FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, DWORD* lpdwNumDevs) {
  if (pDest == nullptr || lpdwNumDevs == nullptr) {
    return FT_INVALID_PARAMETER;
  }
  std::lock_guard<std::mutex> lock(info_mutex);
  if (!info_taken) {
    info_list = d2xxsim::ListSimDevices(d2xxsim::SimDirectory());
    info_taken = true;
  }
  for (size_t i = 0; i < info_list.size(); ++i) {
    const TSimDevice& device = info_list[i];
    FT_DEVICE_LIST_INFO_NODE& node = pDest[i];
    std::memset(&node, 0, sizeof node);
    node.Type = FT_DEVICE_232R;
    node.ID = kVendorProductId;
    node.LocId = device.Location;
    if (device.HeldByOther) {
      node.Flags = FT_FLAGS_OPENED;  // another driver's: nothing more is known
      continue;
    }
    node.ftHandle = Registry().HandleOf(device.Serial);
    node.Flags = node.ftHandle != nullptr ? FT_FLAGS_OPENED : 0;
    CopyField(node.SerialNumber, sizeof node.SerialNumber, device.Serial);
    CopyField(node.Description, sizeof node.Description, device.Description);
  }
  *lpdwNumDevs = static_cast<DWORD>(info_list.size());
  return FT_OK;
}

FT_API FT_STATUS FT_ListDevices(void* pvArg1, void* pvArg2, DWORD dwFlags) {
  const auto devices = d2xxsim::ListSimDevices(d2xxsim::SimDirectory());
  if ((dwFlags & FT_LIST_NUMBER_ONLY) != 0) {
    if (pvArg1 == nullptr) {
      return FT_INVALID_PARAMETER;
    }
    *static_cast<DWORD*>(pvArg1) = static_cast<DWORD>(devices.size());
    return FT_OK;
  }
  if ((dwFlags & FT_LIST_BY_INDEX) != 0) {
    const auto index = static_cast<size_t>(reinterpret_cast<uintptr_t>(pvArg1));
    if (pvArg2 == nullptr) {
      return FT_INVALID_PARAMETER;
    }
    if (index >= devices.size() || devices[index].HeldByOther) {
      return FT_DEVICE_NOT_FOUND;
    }
    const bool by_description = (dwFlags & FT_OPEN_BY_DESCRIPTION) != 0;
    const std::string& text = by_description ? devices[index].Description : devices[index].Serial;
    CopyField(static_cast<char*>(pvArg2),
              by_description ? d2xxsim::kDescriptionField : d2xxsim::kSerialField, text);
    return FT_OK;
  }
  return FT_NOT_SUPPORTED;
}

FT_API FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* pHandle) {
  if (pHandle == nullptr) {
    return FT_INVALID_PARAMETER;
  }
  *pHandle = nullptr;
  const auto devices = d2xxsim::ListSimDevices(d2xxsim::SimDirectory());
  if (deviceNumber < 0 || static_cast<size_t>(deviceNumber) >= devices.size()) {
    return FT_DEVICE_NOT_FOUND;
  }
  return OpenListed(devices[static_cast<size_t>(deviceNumber)], pHandle);
}

FT_API FT_STATUS FT_OpenEx(void* pvArg1, DWORD dwFlags, FT_HANDLE* pHandle) {
  if (pHandle == nullptr || pvArg1 == nullptr) {
    return FT_INVALID_PARAMETER;
  }
  *pHandle = nullptr;
  if (dwFlags != FT_OPEN_BY_SERIAL_NUMBER && dwFlags != FT_OPEN_BY_DESCRIPTION) {
    return FT_NOT_SUPPORTED;
  }
  // The caller's text is read no further than the node field it must fit in.
  const size_t limit =
      dwFlags == FT_OPEN_BY_SERIAL_NUMBER ? d2xxsim::kSerialField : d2xxsim::kDescriptionField;
  const auto* text = static_cast<const char*>(pvArg1);
  const std::string wanted(text, ::strnlen(text, limit));
  for (const auto& device : d2xxsim::ListSimDevices(d2xxsim::SimDirectory())) {
    const std::string& key =
        dwFlags == FT_OPEN_BY_SERIAL_NUMBER ? device.Serial : device.Description;
    if (!device.HeldByOther && key == wanted) {
      return OpenListed(device, pHandle);
    }
  }
  return FT_DEVICE_NOT_FOUND;
}

FT_API FT_STATUS FT_Close(FT_HANDLE h) {
  // The line closes when the last call still using it returns.
  return Registry().Remove(h) ? FT_OK : FT_INVALID_HANDLE;
}

FT_API FT_STATUS FT_ResetDevice(FT_HANDLE h) {
  const auto device = Registry().Find(h);
  if (!device) {
    return FT_INVALID_HANDLE;
  }
  return device->Line->Alive() ? FT_OK : FT_IO_ERROR;
}

FT_API FT_STATUS FT_Purge(FT_HANDLE h, ULONG ulMask) {
  const auto device = Registry().Find(h);
  if (!device) {
    return FT_INVALID_HANDLE;
  }
  if (!device->Line->Alive()) {
    return FT_IO_ERROR;
  }
  device->Line->Purge((ulMask & FT_PURGE_RX) != 0);
  return FT_OK;
}

// Returns when the count has arrived or the read time-out has passed, FT_OK either way.
FT_API FT_STATUS FT_Read(FT_HANDLE h, void* lpBuffer, DWORD dwBytesToRead,
                         DWORD* lpdwBytesReturned) {
  if (lpdwBytesReturned == nullptr) {
    return FT_INVALID_PARAMETER;
  }
  *lpdwBytesReturned = 0;
  const auto device = Registry().Find(h);
  if (!device) {
    return FT_INVALID_HANDLE;
  }
  if (lpBuffer == nullptr && dwBytesToRead != 0) {
    return FT_INVALID_PARAMETER;
  }
  const uint32_t read_ms = device->ReadMs;
  const int64_t deadline = ttyport::NowMs() + read_ms;
  auto* bytes = static_cast<uint8_t*>(lpBuffer);
  size_t got = 0;
  while (got < dwBytesToRead) {
    const int wait = read_ms == 0 ? ttyport::kWaitForever : ttyport::RemainingMs(deadline);
    const TIo ready = device->Line->WaitReadable(wait);
    if (ready == TIo::kTimeout) {
      break;
    }
    size_t n = 0;
    if (ready == TIo::kGone ||
        device->Line->ReadAvailable(bytes + got, dwBytesToRead - got, n) == TIo::kGone) {
      *lpdwBytesReturned = static_cast<DWORD>(got + n);
      return FT_IO_ERROR;
    }
    got += n;
  }
  *lpdwBytesReturned = static_cast<DWORD>(got);
  return FT_OK;
}

// A write time-out ends with FT_OK and a smaller count, as the vendor's does.
FT_API FT_STATUS FT_Write(FT_HANDLE h, void* lpBuffer, DWORD dwBytesToWrite,
                          DWORD* lpdwBytesWritten) {
  if (lpdwBytesWritten == nullptr) {
    return FT_INVALID_PARAMETER;
  }
  *lpdwBytesWritten = 0;
  const auto device = Registry().Find(h);
  if (!device) {
    return FT_INVALID_HANDLE;
  }
  if (lpBuffer == nullptr && dwBytesToWrite != 0) {
    return FT_INVALID_PARAMETER;
  }
  size_t sent = 0;
  const TIo io = device->Line->Write(static_cast<const uint8_t*>(lpBuffer), dwBytesToWrite,
                                     WaitMs(device->WriteMs), sent);
  *lpdwBytesWritten = static_cast<DWORD>(sent);
  return io == TIo::kGone ? FT_IO_ERROR : FT_OK;
}

FT_API FT_STATUS FT_SetTimeouts(FT_HANDLE h, ULONG dwReadTimeout, ULONG dwWriteTimeout) {
  const auto device = Registry().Find(h);
  if (!device) {
    return FT_INVALID_HANDLE;
  }
  device->ReadMs = dwReadTimeout;
  device->WriteMs = dwWriteTimeout;
  return FT_OK;
}

FT_API FT_STATUS FT_GetQueueStatus(FT_HANDLE h, DWORD* lpdwAmountInRxQueue) {
  if (lpdwAmountInRxQueue == nullptr) {
    return FT_INVALID_PARAMETER;
  }
  *lpdwAmountInRxQueue = 0;
  const auto device = Registry().Find(h);
  if (!device) {
    return FT_INVALID_HANDLE;
  }
  return device->Line->QueuedInput(*lpdwAmountInRxQueue) ? FT_OK : FT_IO_ERROR;
}

FT_API FT_STATUS FT_GetStatus(FT_HANDLE h, DWORD* lpdwAmountInRxQueue, DWORD* lpdwAmountInTxQueue,
                              DWORD* lpdwEventStatus) {
  if (lpdwAmountInTxQueue == nullptr || lpdwEventStatus == nullptr) {
    return FT_INVALID_PARAMETER;
  }
  *lpdwAmountInTxQueue = 0;  // the socket takes every byte at once
  *lpdwEventStatus = 0;
  return FT_GetQueueStatus(h, lpdwAmountInRxQueue);
}

FT_API FT_STATUS FT_GetDeviceInfo(FT_HANDLE h, ULONG* lpftDevice, DWORD* lpdwID,
                                  char* pcSerialNumber, char* pcDescription, void* /*pvDummy*/) {
  const auto device = Registry().Find(h);
  if (!device) {
    return FT_INVALID_HANDLE;
  }
  if (lpftDevice != nullptr) {
    *lpftDevice = FT_DEVICE_232R;
  }
  if (lpdwID != nullptr) {
    *lpdwID = kVendorProductId;
  }
  if (pcSerialNumber != nullptr) {
    CopyField(pcSerialNumber, d2xxsim::kSerialField, device->Serial);
  }
  if (pcDescription != nullptr) {
    CopyField(pcDescription, d2xxsim::kDescriptionField, device->Description);
  }
  return FT_OK;
}

// Line settings mean nothing to a socket; they only need a live handle, as with the vendor.
namespace {
FT_STATUS LiveHandle(FT_HANDLE h) {
  return Registry().Find(h) ? FT_OK : FT_INVALID_HANDLE;
}
}  // namespace

FT_API FT_STATUS FT_SetDivisor(FT_HANDLE h, USHORT /*usDivisor*/) {
  return LiveHandle(h);
}
FT_API FT_STATUS FT_SetBaudRate(FT_HANDLE h, ULONG /*dwBaudRate*/) {
  return LiveHandle(h);
}
FT_API FT_STATUS FT_SetRts(FT_HANDLE h) {
  return LiveHandle(h);
}
FT_API FT_STATUS FT_SetDataCharacteristics(FT_HANDLE h, UCHAR /*uWordLength*/, UCHAR /*uStopBits*/,
                                           UCHAR /*uParity*/) {
  return LiveHandle(h);
}
FT_API FT_STATUS FT_SetFlowControl(FT_HANDLE h, USHORT /*usFlowControl*/, UCHAR /*uXonChar*/,
                                   UCHAR /*uXoffChar*/) {
  return LiveHandle(h);
}
FT_API FT_STATUS FT_SetLatencyTimer(FT_HANDLE h, UCHAR /*ucLatency*/) {
  return LiveHandle(h);
}

// The directory is read afresh by every listing; there is nothing to rescan.
FT_API FT_STATUS FT_Rescan() {
  return FT_OK;
}
