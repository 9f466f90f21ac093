#include "UpdaterSession.h"

#include "CrashReport.h"
#include "HotPlugSource.h"
#include "ReadVersion.h"
#include "SessionWriteHost.h"
#include "WriteThread.h"

namespace updater {

namespace {

constexpr int kDevTimerMs = 100;
constexpr int kRescanTimerMs = 3000;

}  // namespace

const char* DriverKindName(uint32_t driver) {
  return driver == kDriverFtdi ? "FTDI" : "QL";
}

TUpdaterSession::TUpdaterSession(QObject* parent)
    : QObject(parent), device_timer_(this), rescan_timer_(this) {
  // The file is the log's first consumer: a line that cannot be written there is told by a
  // line of its own, right after it.
  connect(&log_, &TEventLog::Line, this, &TUpdaterSession::WriteLogFile);
  // A crash report ends with the log's last lines, kept where a crashed process can read them.
  connect(&log_, &TEventLog::Line, this,
          [](int, const std::string& line) { crash::NoteLogLine(line.data(), line.size()); });

  device_timer_.setObjectName(QStringLiteral("DevTimer"));
  device_timer_.setInterval(kDevTimerMs);
  connect(&device_timer_, &QTimer::timeout, this, &TUpdaterSession::DeviceTimerTick);
  device_timer_.start();
  rescan_timer_.setObjectName(QStringLiteral("RescanTimer"));
  rescan_timer_.setInterval(kRescanTimerMs);
  connect(&rescan_timer_, &QTimer::timeout, this, &TUpdaterSession::RescanTimerTick);
}

TUpdaterSession::~TUpdaterSession() {
  Shutdown();
}

void TUpdaterSession::SetFolders(const std::string& app_path, const TDataFolders& folders) {
  app_path_ = app_path;
  folders_ = folders;
  log_file_.SetFolder(folders_.logs);
}

void TUpdaterSession::WriteLogFile(int /*kind*/, const std::string& line) {
  if (std::optional<std::string> failure = log_file_.Write(line)) {
    log_.AddFormatted(kLogError, 0, "Лог не записывается в файл: %s", failure->c_str());
  }
}

// Both libraries are loaded before anything else can happen: a scan may run while the
// caller shows its boxes, and the channel is set once, before any device can be found.
void TUpdaterSession::LoadDriverLibraries() {
  if (libraries_loaded_) {
    return;
  }
  ftdi_ = loaders_.Ftdi(app_path_);
  ql_ = loaders_.Ql(app_path_);
  channel_ = TDeviceChannel(ftdi_.get(), ql_.get());
  libraries_loaded_ = true;
  if (scan_waits_for_libraries_) {
    scan_waits_for_libraries_ = false;
    StartScan();
  }
}

void TUpdaterSession::DeviceChange() {
  spoiled_retries_ = 0;
  device_timer_.stop();
  device_timer_.start();
}

void TUpdaterSession::DeviceTimerTick() {
  device_timer_.stop();
  if (!libraries_loaded_) {
    // A box of the window's first load runs its own event loop, which serves this tick before
    // the libraries are loaded: the scan waits for them instead of finding nothing.
    scan_waits_for_libraries_ = true;
    return;
  }
  StartScan();
}

void TUpdaterSession::RescanTimerTick() {
  if (ftdi_ && ftdi_->FT_Rescan != nullptr) {
    ftdi_->FT_Rescan();
  }
  rescan_timer_.stop();
}

void TUpdaterSession::StopWorkers() {
  device_timer_.stop();
  rescan_timer_.stop();
  // No worker may touch the list, the log or the libraries after this returns.
  dispatcher_.Shutdown();
}

void TUpdaterSession::CloseAllDevices() {
  std::lock_guard lock(list_lock_);
  // Each record goes right after its channel is closed, in list order, and its view with it.
  for (auto& entry : devices_) {
    channel_.DevClose(*entry);
    const uint64_t id = entry->Id;
    entry.reset();
    statuses_.erase(id);
    emit DeviceRemoved(id);
  }
  devices_.clear();
}

void TUpdaterSession::Shutdown() {
  if (shut_down_) {
    return;
  }
  shut_down_ = true;
  StopWorkers();
  CloseAllDevices();
}

}  // namespace updater
