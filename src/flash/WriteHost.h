#pragma once
// What a write job needs from whoever runs it (the updater session, or a test).
//
// Threads: LoadFirmware runs on the main thread inside the job's synchronous call while the job
// waits, so it may touch the job's arguments freely and must not wait for the job. LogDevLine
// and ShowProgress are called on the job's own thread and must return without waiting for the
// main thread (post, never block): a job never waits for a window to paint.

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

  // The job's progress, 0 to 100, rising; 100 only when every part is done.
  virtual void ShowProgress(TDevEntry& device, int percent) = 0;
};

}  // namespace updater
