// Listing the trackers of both driver libraries (scan thread).

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "ReadVersion.h"

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

// A fixed-size text field of a library record, which need not hold its terminating zero.
std::string_view FieldText(const char* field, size_t size) {
  return {field, strnlen(field, size)};
}

}  // namespace

void TReadVersion::ListFTDIDevices(TDevList& target) {
  const TFtdiLibrary* ftdi = context_.Ftdi;
  // A table without its listing functions lists nothing, like a library that is not loaded.
  if (ftdi == nullptr || ftdi->FT_CreateDeviceInfoList == nullptr ||
      ftdi->FT_GetDeviceInfoList == nullptr) {
    return;
  }
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
    if (count == 0) {
      return;
    }
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(count);
    DWORD filled = count;
    if (ftdi->FT_GetDeviceInfoList(nodes.data(), &filled) != FT_OK) {
      Log(kLogError, 0, "Ошибка в драйвере");
      return;
    }
    nodes.resize(std::min<DWORD>(filled, count));
    const bool incomplete = std::any_of(nodes.begin(), nodes.end(), [](const auto& node) {
      return FieldText(node.Description, sizeof node.Description).empty();
    });
    if (incomplete) {
      continue;
    }
    for (const auto& node : nodes) {
      if (FieldText(node.Description, sizeof node.Description) == kTrackerDescription) {
        target.push_back(std::make_unique<TDevEntry>(
            FieldText(node.SerialNumber, sizeof node.SerialNumber), kFtdiListCode, kDriverFtdi));
      }
    }
    return;
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
