// Job control: a panel's write button starts a write job for its device, and the job's end
// handler shows the result and removes a device that went away while it was being written.
//
// Main thread only. A device's Writer is set and cleared under DevListLock: the scan thread
// reads it there, and stops the job of a device it no longer lists, while this thread may be
// about to let the job object free itself.

#include <QProgressBar>
#include <QPushButton>

#include "BootFrame.h"
#include "DevPanelGroup.h"
#include "MainForm.h"
#include "ScanMerge.h"
#include "TextFormat.h"
#include "WriteThread.h"

namespace updater {

namespace {

// The window's end of a job's synchronous calls; each runs on the main thread while the job
// waits.
class TWindowWriteHost final : public TWriteHost {
 public:
  explicit TWindowWriteHost(TMainForm& form) : form_(form) {}

  bool LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& version) override {
    return form_.LoadFirmware(blocks, version);
  }
  void LogDevLine(int kind, int32_t serial, const std::string& text) override {
    form_.LogDevLine(kind, serial, text);
  }
  void ShowProgress(TDevEntry& device, int percent) override {
    if (TFWLoaderDevGroup* panel = PanelOf(device)) {
      panel->pbWrite->setValue(percent);
    }
  }

 private:
  TMainForm& form_;
};

void EnableWriteButton(const TDevEntry& dev, bool enabled) {
  if (TFWLoaderDevGroup* panel = PanelOf(dev)) {
    panel->btnWrite->setEnabled(enabled);
  }
}

}  // namespace

void TMainForm::btnWriteClick() {
  const QObject* button = sender();
  // The scan thread never changes the list's membership, so this thread reads it freely.
  for (const auto& dev : DevList) {
    const TFWLoaderDevGroup* panel = PanelOf(*dev);
    if (panel == nullptr || panel->btnWrite != button) {
      continue;
    }
    // A device running its firmware, or one being written, ignores the click.
    if (dev->BootMode && dev->Writer == nullptr) {
      StartWrite(*dev);
    }
    return;
  }
  LogMsg(kLogError, "Объект прибора не найден");
}

void TMainForm::StartWrite(TDevEntry& dev) {
  if (dev.Writer != nullptr) {
    LogDevMsg(kLogNormal, dev.Serial, "Прибор уже прошивается");
    return;
  }
  if (Dispatcher.ShuttingDown()) {
    return;  // the window is closing: no new worker
  }
  if (!JobHost) {
    JobHost = std::make_unique<TWindowWriteHost>(*this);
  }
  auto* job = new TWriteThread(Dispatcher, *JobHost, Channel, dev);
  job->FreeOnTerminate = true;
  job->OnTerminate = [this](TWorkerThread* worker) {
    WriteDone(*static_cast<TWriteThread*>(worker));
  };
  {
    std::lock_guard lock(DevListLock);
    dev.Writer = job;
  }
  // The job's first step is a synchronous call, served only after this handler has returned:
  // the panel and the log show the start before anything of the job.
  job->Start();
  EnableWriteButton(dev, false);
  LogDevMsg(kLogNormal, dev.Serial, "Начинаем прошивку прибора");
  ShowDevMessage(dev, "Обновление прошивки прибора...", kLogSuccess);
}

void TMainForm::WriteDone(TWriteThread& job) {
  TDevEntry& dev = job.Device;
  if (job.ResultCode != kWriteSucceeded) {
    // A locked device is reported as locked whatever code the job ended with.
    if (job.LastReply == kBootReplyLocked) {
      ShowDevMessage(dev, "Прибор заблокирован", kLogError);
      LogDevLine(kLogError, dev.Serial, "Установлена блокировка изменения настроек");
    } else if (job.ResultCode == kWriteIncompatible) {
      ShowDevMessage(dev, "Прошивка и прибор не совместимы", kLogError);
      LogDevLine(kLogError, dev.Serial, "Прибор не совместим с данной версией прошивки");
    } else {
      ShowDevMessage(dev, Format("Ошибка %d при обновлении прошивки", job.ResultCode), kLogError);
      LogDevMsg(kLogError, dev.Serial,
                "(% 6d)Ошибка %d при прошивке. Последний код ответа прибора %d", job.Elapsed,
                job.ResultCode, job.LastReply);
    }
  } else {
    ShowDevMessage(dev, "Обновление прошивки завершено успешно", kLogSuccess);
    LogDevMsg(kLogNormal, dev.Serial, "(% 6d)Прошивка завершена успешно", job.Elapsed);
  }
  EnableWriteButton(dev, true);

  // The job object frees itself right after this handler: once Writer is cleared under the
  // lock, the scan can no longer reach it.
  std::lock_guard lock(DevListLock);
  dev.Writer = nullptr;
  if (!dev.Removed) {
    return;
  }
  LogDevMsg(kLogNormal, dev.Serial, "Прибор отключен");
  // This very record goes, not merely the first one with its serial number.
  std::erase_if(DevList, [&dev](const auto& entry) { return entry.get() == &dev; });
  TScanTarget area;
  area.DevList = &DevList;
  area.DevPanel = DevPanel;
  SetDevAreaHeight(area);
}

}  // namespace updater
