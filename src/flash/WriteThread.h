#pragma once
// One write job: loads its own copy of the image through the main thread, lays it out as the
// device's flash, checks that it suits the device, then erases and writes the non-empty
// sectors one after the other and ends with a result code (WriteResult.h).
//
// Threads: the main thread constructs the job, sets OnTerminate and starts it; from then on the
// job's thread owns every field below until the body returns. The main thread reads the job's
// fields only inside the job's synchronous call (the job waits) and in the end handler (the
// body has returned). Terminate() from any thread, or the scan marking the device unplugged,
// stops the job between sectors.
//
// Ownership: whoever creates the job owns it and frees it after its end handler. The device
// record and the host must outlive the job: their owner waits for the end handler
// (TDispatcher::Shutdown does so for every job) before destroying them.

#include <cstdint>
#include <string>
#include <vector>

#include "DevEntry.h"
#include "DeviceChannel.h"
#include "FirmwareBlock.h"
#include "FirmwareVersion.h"
#include "FlashRequests.h"
#include "SectorMap.h"
#include "WorkerThread.h"
#include "WriteHost.h"
#include "WriteResult.h"

namespace updater {

class TWriteThread : public TWorkerThread, private TFlashJobHooks {
 public:
  TWriteThread(TDispatcher& dispatcher, TWriteHost& host, const TDeviceChannel& channel,
               TDevEntry& device);

  // The device being flashed; not owned.
  TDevEntry& Device;

  // The outcome, for the end handler.
  int32_t ResultCode = kWriteSucceeded;
  int32_t LastReply = 0;  // last code the boot loader gave to an erase or write; 0: none
  int32_t Elapsed = 0;    // duration of the body in ms

  // The job's working state (job thread).
  TFirmwareBlockList Blocks;  // this job's copy of the image, freed as the body ends
  TFirmwareVersion ImageVersion;
  std::vector<uint8_t> Image;  // the device's flash up to the end of the last writable sector
  const TSectorMap* SectorMap = nullptr;
  int32_t FirstSector = -1;
  int32_t LastSector = -1;
  uint32_t StartTick = 0;
  int32_t TotalParts = 0;  // 512-byte parts from FirstSector to the end of LastSector
  int32_t PartsDone = 0;   // parts written or skipped so far
  // The counts behind the percentage (PartsDone and TotalParts mirror the two above), for the
  // end handler and for ShowSteps.
  TJobSteps Steps;
  std::string MsgText;  // the line being handed to the event log
  uint8_t MsgLevel = 0;

 protected:
  void Execute() override;

 private:
  enum class TLoad { Loaded, Failed, Refused };

  TLoad LoadImage();
  void SelectSectorMap();
  // Lays Blocks out in Image; the result code of the layout (0 when there is something to
  // write).
  int32_t BuildImage();
  bool SectorEmpty(int32_t sector) const;
  int32_t SectorParts(int32_t sector) const;
  void RunSectors();

  void ThreadLog(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void HandOver(int level, std::string text);
  void ShowProgress();
  // Brings Steps up to date and hands it to the host.
  void ShowSteps();
  int32_t ElapsedMs() const;
  // Asked to stop, or the device was unplugged during the job.
  bool Stopped() const { return Terminated() || Device.Unplugged.load(); }
  // Shutdown has begun: nothing more is shown of the job, and it stops.
  void Abandon();

  // TFlashJobHooks
  void FlashLog(int level, std::string text) override { HandOver(level, std::move(text)); }
  void PartWritten() override;
  bool Abandoned() const override { return abandoned_; }

  TWriteHost& host_;
  const TDeviceChannel& channel_;
  TLogSink sink_;
  bool abandoned_ = false;                    // job thread only
  const TFlashRequests* requests_ = nullptr;  // while the sectors run; job thread only
  uint32_t flash_start_tick_ = 0;             // the first erase request; 0 before it
};

}  // namespace updater
