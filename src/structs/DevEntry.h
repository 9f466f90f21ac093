#pragma once
// One connected tracker: what is known of the device itself. The scan creates it,
// identification fills it, the channel opens the device through it, the updater session lists
// it and a write job works on it. Views and jobs are kept elsewhere, by the record's Id.
//
// Ownership: a device list owns its records. Threads: the scan thread alone touches a record
// until the session takes it over; afterwards the main thread owns it, the scan thread reads
// Serial, BootMode and BootStarted (fixed once identified) and writes Removed and Unplugged
// only under the list's lock, and a running write job uses the channel fields and reads
// Unplugged.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FirmwareVersion.h"

namespace updater {

// Driver kinds of a device record: which library lists, opens and talks to it.
inline constexpr uint32_t kDriverFtdi = 0;
inline constexpr uint32_t kDriverQl = 1;  // the maker's library; any value but 0 selects it

class TDevEntry {
 public:
  TDevEntry(std::string_view serial_text, uint16_t list_code, uint32_t driver);
  ~TDevEntry();
  TDevEntry(const TDevEntry&) = delete;
  TDevEntry& operator=(const TDevEntry&) = delete;

  int32_t Serial = -1;
  // The serial number as the library listed it. The device is opened by this text: the
  // vendor's library matches it exactly, so "0042" is not found as "42".
  std::string SerialText;
  uint16_t ListCode = 0;
  uint32_t ProcessorId = 0;
  bool BootMode = false;
  bool BootStarted = false;
  // The session's own number for the record, unique in a run; 0 until the session lists it.
  uint64_t Id = 0;
  // Not listed by the last scan (it may be listed again). Written by the scan thread under the
  // list's lock, read anywhere.
  std::atomic<bool> Removed{false};
  // The last scan missed the device while it was being written: the job on it stops at its
  // next sector, even if the device is listed again (it has started afresh). Set by the scan
  // thread, cleared when a new job starts on the record.
  std::atomic<bool> Unplugged{false};
  TFirmwareVersion FirmwareVersion;
  TFirmwareVersion BootVersion;
  uint32_t Driver = kDriverFtdi;
  void* FtHandle = nullptr;  // the vendor's FT_HANDLE is pointer-sized on a 64-bit build
  uint32_t QlHandle = 0;
};

using TDevList = std::vector<std::unique_ptr<TDevEntry>>;

// The caller holds the list's lock when the list is the session's.
TDevEntry* FindDevice(const TDevList& list, int32_t serial);
void DeleteDevice(TDevList& list, int32_t serial);

}  // namespace updater
