#pragma once
// One connected tracker. The scan creates it, identification fills it, the channel opens the
// device through it, the main window lists it and a write job works on it.
//
// Ownership: a device list owns its records; a record owns its panel. Threads: the scan thread
// alone touches a record until the main window takes it over; afterwards the main thread owns
// it, the scan thread reads Serial/Writer and writes Removed only under DevListLock, and a
// running write job uses the channel fields.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DevPanel.h"
#include "FirmwareVersion.h"

namespace updater {

class TWorkerThread;

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
  std::atomic<bool> Removed{false};  // written by the scan thread under DevListLock, read anywhere
  std::unique_ptr<TDevPanel> Panel;
  TWorkerThread* Writer = nullptr;  // not owned
  TFirmwareVersion FirmwareVersion;
  TFirmwareVersion BootVersion;
  uint32_t Driver = kDriverFtdi;
  void* FtHandle = nullptr;  // the vendor's FT_HANDLE is pointer-sized on a 64-bit build
  uint32_t QlHandle = 0;
};

using TDevList = std::vector<std::unique_ptr<TDevEntry>>;

// The caller holds DevListLock when the list is the main window's.
TDevEntry* FindDevice(const TDevList& list, int32_t serial);
void DeleteDevice(TDevList& list, int32_t serial);

}  // namespace updater
