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

// How far a job has come, counted in what it sends: a headless view shows rates and the time
// left from it, a report keeps the totals. Sectors and parts to write count only the sectors
// that hold data (empty ones are skipped without a request).
struct TJobSteps {
  int32_t TotalParts = 0;      // 512-byte parts from the first to the last sector, empty ones too
  int32_t PartsDone = 0;       // parts written or skipped
  int32_t SectorsToWrite = 0;  // sectors that hold data
  int32_t PartsToWrite = 0;    // their parts
  int32_t SectorsErased = 0;
  int32_t SectorsWritten = 0;
  int32_t PartsWritten = 0;
  int32_t Retries = 0;    // requests sent again after a failed send or a missing reply
  int32_t FlashMs = 0;    // since the first erase request; 0 before it
  int32_t ElapsedMs = 0;  // since the job began (its image load included)
};

// The time the rest of the job will take at the rate measured so far in it, in ms: every erase
// and every part is one request and one reply, so the requests left at the requests' own pace.
// -1 while nothing has been measured.
int64_t EstimateMsLeft(const TJobSteps& steps);

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

  // The job's counts, after every step that changes them (job thread, like ShowProgress). A
  // host that shows only the percentage leaves it alone.
  virtual void ShowSteps(TDevEntry& /*device*/, const TJobSteps& /*steps*/) {}
};

}  // namespace updater
