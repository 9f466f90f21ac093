#pragma once
// What a write job needs from the main window. Every call runs on the main thread, inside the
// job's synchronous call, while the job waits; so an implementation may touch widgets and the
// job's arguments freely, and must not wait for the job.

#include <cstdint>
#include <string>

#include "DevEntry.h"
#include "FirmwareBlock.h"
#include "FirmwareVersion.h"

namespace updater {

class TWriteHost {
 public:
  virtual ~TWriteHost() = default;

  // Loads the image of the current source into the job's own block list and version record,
  // logging and showing it as any load does. False when the image could not be loaded; may
  // throw the oversize-block error, which the job receives as a failed load.
  virtual bool LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& version) = 0;

  // One finished line of the device's log (kind as in TLogKind).
  virtual void LogDevLine(int kind, int32_t serial, const std::string& text) = 0;

  // The device's progress bar, 0 to 100.
  virtual void ShowProgress(TDevEntry& device, int percent) = 0;
};

}  // namespace updater
