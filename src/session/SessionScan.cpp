// Scans: one at a time, one more when a device change came in while it ran, a few more after
// a spoiled cycle; the merge of each ended scan into the device list; device-change
// notifications.
//
// Main thread only; the scan thread adds its lines to the event log and ends through the
// dispatcher. The list's membership changes here under its lock, never while waiting for
// another thread, and no signal is emitted under it.

#include "HotPlugSource.h"
#include "ReadVersion.h"
#include "TextFormat.h"
#include "UpdaterSession.h"

namespace updater {

namespace {

constexpr int kSpoiledScanRetries = 3;

}  // namespace

void TUpdaterSession::StartScan() {
  // Device changes are watched from the first scan on; the first scan covers everything that
  // came before it.
  if (hot_plug_ == nullptr) {
    hot_plug_ = new THotPlugSource(THotPlugSource::DeviceDirectories(), true, this);
    connect(hot_plug_, &THotPlugSource::Changed, this, &TUpdaterSession::DeviceChange);
  }
  if (dispatcher_.ShuttingDown()) {
    return;  // closing: no new worker
  }
  if (scan_ != nullptr) {
    // A device plugged now may already be past the running scan's listing: look again as soon
    // as that scan ends, instead of waiting for the next change.
    rescan_pending_ = true;
    return;
  }
  TScanContext context;
  context.Ftdi = ftdi_.get();
  context.Ql = ql_.get();
  context.DevList = &devices_;
  context.DevListLock = &list_lock_;
  context.Sink = log_.Sink();
  context.Notices = &scan_notices_;
  scan_ = std::make_unique<TReadVersion>(dispatcher_, std::move(context));
  scan_->OnTerminate = [this](TWorkerThread*) {
    // Freed when the handler returns; nothing touches it after.
    const std::unique_ptr<TReadVersion> done = std::move(scan_);
    ScanDone(*done);
  };
  scan_->Start();
}

void TUpdaterSession::ScanDone(TReadVersion& scan) {
  // Stopped by the shutdown: nothing of it is shown, and no scan follows.
  const bool stopped = scan.Terminated() || dispatcher_.ShuttingDown();
  bool retry = false;
  if (!stopped) {
    MergeScan(scan);
    // A device that was slow to answer spoils the cycle, and nothing else would look again
    // until some device changes: on a busy machine a plugged tracker then stays unseen. Look
    // again a few times; a device that never answers costs only those few cycles.
    if (scan.ErrorCode == 0) {
      spoiled_retries_ = 0;
    } else if (spoiled_retries_ < kSpoiledScanRetries) {
      ++spoiled_retries_;
      retry = true;
    }
  }
  if (rescan_pending_ && !stopped) {
    rescan_pending_ = false;
    StartScan();
  } else if (retry) {
    device_timer_.start();
  }
  if (!stopped) {
    emit ScanEnded(scan.ErrorCode);
  }
}

void TUpdaterSession::MergeScan(TReadVersion& scan) {
  // Why a tracker would not open follows the line that says the cycle failed.
  const auto log_notices = [&] {
    for (const TScanNotice& notice : scan.Notices) {
      log_.Add(notice.Kind, notice.Serial, notice.Text);
    }
  };
  if (scan.ErrorCode != 0) {
    // The whole cycle is dropped; a later scan lists its devices again.
    log_.AddFormatted(kLogError, 0,
                      "(% 6d)Ошибка %d поиске новых устройств. Последний код ответа прибора %d",
                      scan.ScanTime, scan.ErrorCode, scan.LastReply);
    // On an unattended line every other tracker waits until this one is pulled: name it.
    if (scan.Culprit.Found) {
      const TScanCulprit& culprit = scan.Culprit;
      std::string text = Format("Поиск остановил прибор %d: драйвер %s", culprit.Serial,
                                DriverKindName(culprit.Driver));
      if (!culprit.Path.empty()) {
        text += ", порт " + culprit.Path;
      }
      log_.Add(kLogError, culprit.Serial, text);
      emit ScanSpoiled(scan.ErrorCode, culprit);
    }
    log_notices();
    return;
  }
  log_notices();
  // A gone device that is still being written stays until its job ends.
  std::vector<const TDevEntry*> gone;
  for (const auto& entry : devices_) {
    if (entry->Removed && !JobRunning(entry->Id)) {
      gone.push_back(entry.get());
    }
  }
  for (const TDevEntry* device : gone) {
    DropDevice(*device);
  }
  for (auto& found : scan.NewDevices) {
    ListDevice(std::move(found));
  }
  scan.NewDevices.clear();  // emptied slots; the records now belong to the list
}

TDevEntry& TUpdaterSession::AdoptDevice(std::unique_ptr<TDevEntry> device) {
  TDevEntry* listed = device.get();
  listed->Id = next_id_++;
  {
    std::lock_guard lock(list_lock_);
    devices_.push_back(std::move(device));
  }
  statuses_[listed->Id] = TDeviceStatus{{}, kLogNormal, listed->BootMode};
  TDeviceShown shown;
  shown.Id = listed->Id;
  shown.Serial = listed->Serial;
  shown.FirmwareText = listed->FirmwareVersion.VersionText();
  shown.LoaderText = listed->BootMode ? listed->BootVersion.VersionText() : "";
  shown.BootMode = listed->BootMode;
  shown.Position = static_cast<int>(devices_.size());
  emit DeviceAdded(shown);
  return *listed;
}

void TUpdaterSession::ListDevice(std::unique_ptr<TDevEntry> found) {
  log_.Add(kLogNormal, found->Serial, "Прибор подключен");
  TDevEntry& device = AdoptDevice(std::move(found));
  const int32_t serial = device.Serial;
  log_.Add(kLogNormal, serial,
           Format("Версия прошивки %s", device.FirmwareVersion.VersionText().c_str()));
  if (device.BootMode) {
    log_.Add(kLogNormal, 0,
             Format("Версия загрузчика %s", device.BootVersion.VersionText().c_str()));
  }
  log_.Add(kLogNormal, serial, Format("Идентификатор процессора 0x%08X", device.ProcessorId));
  log_.Add(kLogNormal, serial,
           Format("Режим работы - %s", device.BootMode ? "Загрузчик" : "Прошивка"));
  if (!device.BootMode && device.BootStarted) {
    SetStatus(device.Id, "Отключите прибор и подключите заново.", kLogSuccess, false);
  }
  if (device.BootMode && auto_write_) {
    StartWrite(device);
  }
}

void TUpdaterSession::DropDevice(const TDevEntry& device) {
  const uint64_t id = device.Id;
  log_.Add(kLogNormal, device.Serial, "Прибор отключен");
  {
    std::lock_guard lock(list_lock_);
    // This very record goes, not merely the first one with its serial number.
    std::erase_if(devices_, [&device](const auto& entry) { return entry.get() == &device; });
  }
  statuses_.erase(id);
  emit DeviceRemoved(id);
}

const TDevEntry* TUpdaterSession::Device(uint64_t id) const {
  for (const auto& entry : devices_) {
    if (entry->Id == id) {
      return entry.get();
    }
  }
  return nullptr;
}

const TDevEntry* TUpdaterSession::DeviceBySerial(int32_t serial) const {
  return FindDevice(devices_, serial);
}

std::vector<uint64_t> TUpdaterSession::DeviceIds() const {
  std::vector<uint64_t> ids;
  ids.reserve(devices_.size());
  for (const auto& entry : devices_) {
    ids.push_back(entry->Id);
  }
  return ids;
}

void TUpdaterSession::SetStatus(uint64_t id, std::string message, int kind, bool can_write) {
  TDeviceStatus& status = statuses_[id];
  status.Message = std::move(message);
  status.MessageKind = kind;
  status.CanWrite = can_write;
  emit DeviceChanged(id, status);
}

void TUpdaterSession::SetCanWrite(uint64_t id, bool can_write) {
  TDeviceStatus& status = statuses_[id];
  status.CanWrite = can_write;
  emit DeviceChanged(id, status);
}

}  // namespace updater
