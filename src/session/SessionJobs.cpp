// Write jobs: one per device, started by its write button or by automatic flashing, owned by
// the session until its end handler has taken its outcome; the end handler shows the result
// and drops a device that went away while it was being written.
//
// Main thread only, except the job host's line and progress calls, which run on the job's
// thread and never wait for the main thread.

#include "BootFrame.h"
#include "SessionWriteHost.h"
#include "TextFormat.h"
#include "UpdaterSession.h"
#include "WriteThread.h"

namespace updater {

bool TSessionWriteHost::LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& version) {
  return session_.LoadImage(blocks, version);
}

void TSessionWriteHost::LogDevLine(int kind, int32_t serial, const std::string& text) {
  session_.log_.Add(kind, serial, text);
}

void TSessionWriteHost::ShowProgress(TDevEntry& device, int percent) {
  // Through the dispatcher's queue, which the job's end handler follows: a view never sees a
  // step after the job's end. Posting never waits.
  const uint64_t id = device.Id;
  TUpdaterSession* session = &session_;
  session_.dispatcher_.Post([session, id, percent] { emit session->JobProgress(id, percent); });
}

void TSessionWriteHost::ShowSteps(TDevEntry& device, const TJobSteps& steps) {
  const uint64_t id = device.Id;
  TUpdaterSession* session = &session_;
  session_.dispatcher_.Post([session, id, steps] { emit session->JobSteps(id, steps); });
}

void TUpdaterSession::RequestWrite(uint64_t id) {
  for (const auto& entry : devices_) {
    if (entry->Id != id) {
      continue;
    }
    // A device running its firmware, or one being written, ignores the click.
    if (entry->BootMode && !JobRunning(id)) {
      StartWrite(*entry);
    }
    return;
  }
  log_.Add(kLogError, 0, "Объект прибора не найден");
}

void TUpdaterSession::StartWrite(TDevEntry& device) {
  const uint64_t id = device.Id;
  if (JobRunning(id)) {
    log_.Add(kLogNormal, device.Serial, "Прибор уже прошивается");
    return;
  }
  if (dispatcher_.ShuttingDown()) {
    return;  // closing: no new worker
  }
  if (!job_host_) {
    job_host_ = std::make_unique<TSessionWriteHost>(*this);
  }
  device.Unplugged = false;
  auto job = std::make_unique<TWriteThread>(dispatcher_, *job_host_, channel_, device);
  job->OnTerminate = [this, id](TWorkerThread* worker) {
    const auto& ended = static_cast<const TWriteThread&>(*worker);
    const TJobOutcome outcome{ended.Device.Serial, ended.ResultCode, ended.LastReply, ended.Elapsed,
                              ended.Steps};
    jobs_.erase(id);  // frees the job; nothing touches it after
    JobEnded(id, outcome);
  };
  // The start is shown before anything of the job: its lines follow in the same log.
  SetCanWrite(id, false);
  log_.Add(kLogNormal, device.Serial, "Начинаем прошивку прибора");
  SetStatus(id, "Обновление прошивки прибора...", kLogSuccess, false);
  TWriteThread& started = *job;
  jobs_.emplace(id, std::move(job));
  started.Start();
}

void TUpdaterSession::JobEnded(uint64_t id, const TJobOutcome& outcome) {
  const int32_t serial = outcome.Serial;
  std::string message;
  int kind = kLogError;
  if (outcome.ResultCode != kWriteSucceeded) {
    // A locked device is reported as locked whatever code the job ended with.
    if (outcome.LastReply == kBootReplyLocked) {
      message = "Прибор заблокирован";
      log_.Add(kLogError, serial, "Установлена блокировка изменения настроек");
    } else if (outcome.ResultCode == kWriteIncompatible) {
      message = "Прошивка и прибор не совместимы";
      log_.Add(kLogError, serial, "Прибор не совместим с данной версией прошивки");
    } else {
      message = Format("Ошибка %d при обновлении прошивки", outcome.ResultCode);
      log_.AddFormatted(kLogError, serial,
                        "(% 6d)Ошибка %d при прошивке. Последний код ответа прибора %d",
                        outcome.Elapsed, outcome.ResultCode, outcome.LastReply);
    }
  } else {
    message = "Обновление прошивки завершено успешно";
    kind = kLogSuccess;
    log_.AddFormatted(kLogNormal, serial, "(% 6d)Прошивка завершена успешно", outcome.Elapsed);
  }
  SetStatus(id, std::move(message), kind, true);
  emit JobDone(id, outcome);
  const TDevEntry* device = Device(id);
  if (device != nullptr && device->Removed) {
    DropDevice(*device);
  }
}

}  // namespace updater
