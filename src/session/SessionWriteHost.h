#pragma once
// The session's end of its write jobs' calls (SessionJobs.cpp).
//
// Threads: LoadFirmware on the main thread inside the job's synchronous call; LogDevLine,
// ShowProgress and ShowSteps on the job's thread: the line goes to the event log, and the steps
// are posted to the main thread in the dispatcher's queue, ahead of the job's end handler.
//
// Ownership: the session owns it and outlives every job.

#include "WriteHost.h"

namespace updater {

class TUpdaterSession;

class TSessionWriteHost final : public TWriteHost {
 public:
  explicit TSessionWriteHost(TUpdaterSession& session) : session_(session) {}

  bool LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& version) override;
  void LogDevLine(int kind, int32_t serial, const std::string& text) override;
  void ShowProgress(TDevEntry& device, int percent) override;
  void ShowSteps(TDevEntry& device, const TJobSteps& steps) override;

 private:
  TUpdaterSession& session_;
};

}  // namespace updater
