// Listing the trackers of both driver libraries (scan thread).

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ReadVersion.h"
#include "TextFormat.h"

namespace updater {

namespace {

constexpr int kFtdiListAttempts = 50;
constexpr uint32_t kFtdiListRetryMs = 100;
constexpr uint32_t kQlCountPreset = 5;
constexpr uint16_t kFtdiListCode = 0xFFFF;
constexpr std::string_view kTrackerDescription = "Veltorium";
// A count is the library's word, not ours: more devices than any USB host can carry is a
// driver fault, not a reason to allocate gigabytes.
constexpr uint32_t kMaxListedDevices = 4096;

// Keys of TScanNotices for devices another driver holds.
constexpr std::string_view kHeldNotice = "held:";

// A fixed-size text field of a library record, which need not hold its terminating zero.
std::string_view FieldText(const char* field, size_t size) {
  return {field, strnlen(field, size)};
}

// A node that someone else has open and that tells nothing about itself: on Linux the kernel's
// own serial driver takes every FTDI chip, and such a node stays like this for as long as the
// driver holds it, so waiting for its description is waiting in vain.
bool HeldByOther(const FT_DEVICE_LIST_INFO_NODE& node) {
  return (node.Flags & FT_FLAGS_OPENED) != 0 &&
         FieldText(node.Description, sizeof node.Description).empty();
}

// The location stays with the USB port the device sits in; a serial number, should the
// library give one, names it as well; its place in the list is all that is left otherwise.
THeldDevice DescribeHeld(const FT_DEVICE_LIST_INFO_NODE& node, size_t index) {
  const std::string serial(FieldText(node.SerialNumber, sizeof node.SerialNumber));
  std::string name = Format("номер %zu в списке", index + 1);
  std::string key(kHeldNotice);
  if (node.LocId != 0) {
    name += Format(", расположение 0x%X", node.LocId);
    key += Format("location %X", node.LocId);
  } else if (!serial.empty()) {
    key += "serial " + serial;
  } else {
    key += Format("index %zu", index);
  }
  if (!serial.empty()) {
    name += ", серийный номер " + serial;
  }
  return {key, name};
}

}  // namespace

void TReadVersion::ListFTDIDevices(TDevList& target) {
  const TFtdiLibrary* ftdi = context_.Ftdi;
  // A table without its listing functions lists nothing, like a library that is not loaded.
  if (ftdi == nullptr || ftdi->FT_CreateDeviceInfoList == nullptr ||
      ftdi->FT_GetDeviceInfoList == nullptr) {
    return;
  }
  // The held nodes of the last list read; told only when a list was read at all.
  std::vector<THeldDevice> held;
  bool read = false;
  for (int attempt = 0; attempt < kFtdiListAttempts && !Terminated(); ++attempt) {
    if (attempt != 0) {
      // A device that is still being set up by the system reports no description yet.
      context_.Clock.Sleep(kFtdiListRetryMs);
    }
    DWORD count = 0;
    if (ftdi->FT_CreateDeviceInfoList(&count) != FT_OK || count > kMaxListedDevices) {
      Log(kLogError, 0, "Ошибка в драйвере");
      return;
    }
    held.clear();
    read = true;
    if (count == 0) {
      break;
    }
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(count);
    DWORD filled = count;
    if (ftdi->FT_GetDeviceInfoList(nodes.data(), &filled) != FT_OK) {
      Log(kLogError, 0, "Ошибка в драйвере");
      return;
    }
    nodes.resize(std::min<DWORD>(filled, count));
    bool incomplete = false;
    for (size_t i = 0; i < nodes.size(); ++i) {
      if (HeldByOther(nodes[i])) {
        held.push_back(DescribeHeld(nodes[i], i));
      } else if (FieldText(nodes[i].Description, sizeof nodes[i].Description).empty()) {
        incomplete = true;
      }
    }
    if (incomplete) {
      continue;
    }
    for (const auto& node : nodes) {
      if (FieldText(node.Description, sizeof node.Description) == kTrackerDescription) {
        target.push_back(std::make_unique<TDevEntry>(
            FieldText(node.SerialNumber, sizeof node.SerialNumber), kFtdiListCode, kDriverFtdi));
      }
    }
    break;
  }
  if (read) {
    TellHeldDevices(held);
  }
}

// One line per held device, the first time a scan sees it; a device that has gone is told
// about again when it comes back.
void TReadVersion::TellHeldDevices(const std::vector<THeldDevice>& held) {
  std::set<std::string> present;
  for (const THeldDevice& node : held) {
    present.insert(node.Key);
    if (context_.Notices == nullptr || context_.Notices->First(node.Key)) {
      LogText(kLogNormal, 0,
              "Устройство FTDI (" + node.Name +
                  ") занято другим драйвером (обычно ftdi_sio) и пропущено. Если это прибор, "
                  "освободите его: установите правила udev из пакета программы или выполните "
                  "sudo rmmod ftdi_sio");
    }
  }
  if (context_.Notices != nullptr) {
    context_.Notices->KeepOnly(kHeldNotice, present);
  }
}

void TReadVersion::ListQLDevices(TDevList& target) {
  const TQlLibrary* ql = context_.Ql;
  if (ql == nullptr || ql->QL_GetListDevices == nullptr) {
    return;
  }
  uint32_t count = kQlCountPreset;
  if (ql->QL_GetListDevices(kQlListAll, nullptr, &count) != 0 || count > kMaxListedDevices) {
    Log(kLogError, 0, "Ошибка в драйвере");
    return;
  }
  if (count == 0) {
    return;
  }
  std::vector<uint8_t> records(static_cast<size_t>(count) * kQlListRecordSize);
  uint32_t listed = count;
  if (ql->QL_GetListDevices(kQlListAll, records.data(), &listed) != 0) {
    Log(kLogError, 0, "Ошибка в драйвере");
    return;
  }
  // Devices plugged between the two calls are left to the next scan: the buffer holds only
  // the first count records.
  listed = std::min(listed, count);
  for (uint32_t i = 0; i < listed; ++i) {
    const uint8_t* record = records.data() + static_cast<size_t>(i) * kQlListRecordSize;
    const auto list_code =
        static_cast<uint16_t>(record[kQlListCodeOffset] | (record[kQlListCodeOffset + 1] << 8));
    const auto* serial = reinterpret_cast<const char*>(record + kQlSerialOffset);
    target.push_back(
        std::make_unique<TDevEntry>(FieldText(serial, kQlSerialSize), list_code, kDriverQl));
  }
}

}  // namespace updater
