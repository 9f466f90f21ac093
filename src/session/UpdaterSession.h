#pragma once
// The updater session: the program's working core, with no widgets. It owns the driver
// libraries and the channel over them, the device list and its lock, the scans and their
// schedule (the 100 ms device timer, one more scan after a change that came during a scan, a
// few more after a spoiled cycle), one write job per device, the image source and the event
// log. The window and a headless program are views of it: they call its operations and follow
// its signals. Every finished log line also goes to the crash report's ring of last lines
// (CrashReport.h).
//
// Its operations are split into files by concern:
//   UpdaterSession.cpp  construction, libraries, timers, shutdown
//   SessionScan.cpp     scans, their merge into the device list, device-change notifications
//   SessionJobs.cpp     write jobs and their outcomes
//   SessionImage.cpp    the image source and its loading
//
// Threads: the session, its signals and every member belong to the main thread (the thread it
// was created in), with three exceptions: the scan thread reads and marks the device list under
// its lock; workers add lines to the event log; a job's progress is posted to the main thread.
// Workers reach the main thread through the dispatcher (the image load, end handlers).
//
// Ownership: the session owns every record, scan and job; views keep their own things by the
// record's Id and drop them on DeviceRemoved. Shutdown() stops and awaits every worker before
// any record goes; the destructor runs it at the latest.

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DailyLogFile.h"
#include "DataFolders.h"
#include "DevEntry.h"
#include "DeviceChannel.h"
#include "DriverLibraries.h"
#include "EventLog.h"
#include "FirmwareBlock.h"
#include "FirmwareVersion.h"
#include "QtDispatcher.h"
#include "ScanNotices.h"
#include "WriteHost.h"
#include "WriteResult.h"

namespace updater {

class THotPlugSource;
class TReadVersion;
class TWriteThread;
class TSessionWriteHost;

// How the session loads the two driver libraries; tests substitute their own.
struct TLibraryLoaders {
  std::function<std::unique_ptr<TFtdiLibrary>(const std::string& app_dir)> Ftdi = LoadFtdiLibrary;
  std::function<std::unique_ptr<TQlLibrary>(const std::string& app_dir)> Ql = LoadQLLibrary;
};

// How the log and a headless view name a driver kind: "FTDI" or "QL" (the maker's library).
const char* DriverKindName(uint32_t driver);

// A device as a view first shows it.
struct TDeviceShown {
  uint64_t Id = 0;
  int32_t Serial = 0;
  std::string FirmwareText;  // version of its firmware
  std::string LoaderText;    // version of its boot loader; empty when it runs its firmware
  bool BootMode = false;
  int Position = 0;  // devices listed with it, itself included
};

// What a view shows of a device besides its facts: the status line and whether a write may
// start (it runs its boot loader and no job runs on it).
struct TDeviceStatus {
  std::string Message;
  int MessageKind = kLogNormal;  // 1 red, 2 green, others the normal colour
  bool CanWrite = false;
};

// How a write job ended, handed over as a value: the job is gone by then.
struct TJobOutcome {
  int32_t Serial = 0;
  int32_t ResultCode = kWriteSucceeded;
  int32_t LastReply = 0;
  int32_t Elapsed = 0;  // ms
  TJobSteps Steps;      // the job's final counts
};

class TUpdaterSession : public QObject {
  Q_OBJECT

 public:
  explicit TUpdaterSession(QObject* parent = nullptr);
  ~TUpdaterSession() override;  // Shutdown() first

  // --- Start-up ---------------------------------------------------------------------------
  void SetLibraryLoaders(TLibraryLoaders loaders) { loaders_ = std::move(loaders); }
  // The executable's folder (trailing '/') and the data folders: where the libraries are
  // looked for and where the daily log file goes.
  void SetFolders(const std::string& app_path, const TDataFolders& folders);
  const std::string& AppPath() const { return app_path_; }
  const TDataFolders& Folders() const { return folders_; }
  // Loads both libraries once; a scan that was due meanwhile starts now.
  void LoadDriverLibraries();
  bool HasFtdiLibrary() const { return ftdi_ != nullptr; }
  bool HasQlLibrary() const { return ql_ != nullptr; }

  // --- Choices of the user ------------------------------------------------------------------
  void SetAutoWrite(bool on) { auto_write_ = on; }
  bool AutoWrite() const { return auto_write_; }
  void SetLogToFile(bool on) { log_file_.SetEnabled(on); }

  // --- The image (SessionImage.cpp) ---------------------------------------------------------
  // File mode takes the image from the named file, otherwise the embedded one is used.
  void SetFileMode(bool on) { file_mode_ = on; }
  bool FileMode() const { return file_mode_; }
  void SetImageFile(const QString& name) { image_file_ = name; }
  const QString& ImageFile() const { return image_file_; }
  // Loads the image of the current source into blocks (emptied first) and version, logs it and
  // tells ImageLoaded. An oversize payload throws TFirmwareBlockTooLarge to the caller.
  bool LoadImage(TFirmwareBlockList& blocks, TFirmwareVersion& version);
  // The version last loaded by LoadCurrentImage.
  const TFirmwareVersion& ImageVersion() const { return image_version_; }
  // Loads the current image for display only (the read button). True when it was loaded from
  // a file (the caller remembers the name); throws as LoadImage.
  bool LoadCurrentImage();

  // --- Devices, scans and jobs --------------------------------------------------------------
  // Starts a scan now, or one more after the running one.
  void StartScan();
  // The write button of a device: starts its job when it runs its boot loader and has none.
  void RequestWrite(uint64_t id);
  // Starts a job for a listed device ("Прибор уже прошивается" when one runs).
  void StartWrite(TDevEntry& device);
  // End handler of every write job, once the job is gone: shows its outcome, lets a write start
  // again and drops the device when it went away during the job. Public so that a view's test
  // can show any outcome.
  void JobEnded(uint64_t id, const TJobOutcome& outcome);
  // Main thread: the listed device with this Id or serial, or null.
  const TDevEntry* Device(uint64_t id) const;
  const TDevEntry* DeviceBySerial(int32_t serial) const;
  std::vector<uint64_t> DeviceIds() const;
  size_t DeviceCount() const { return devices_.size(); }
  bool ScanRunning() const { return scan_ != nullptr; }
  bool ScanDue() const { return device_timer_.isActive() || rescan_pending_; }
  // One more scan follows the running one.
  bool RescanPending() const { return rescan_pending_; }
  size_t RunningJobs() const { return jobs_.size(); }
  bool JobRunning(uint64_t id) const { return jobs_.count(id) != 0; }
  // The 100 ms timer that starts scans (restarted by every device change).
  QTimer& DeviceTimer() { return device_timer_; }
  // For a test that places records itself: lists a record as a scan would (no lines).
  TDevEntry& AdoptDevice(std::unique_ptr<TDevEntry> device);

  // --- The event log ------------------------------------------------------------------------
  TEventLog& Log() { return log_; }

  // --- Shutdown -----------------------------------------------------------------------------
  // Stops the timers, asks every worker to stop and waits for all of them, serving their calls.
  void StopWorkers();
  // Closes every device and drops its record, in list order (DeviceRemoved for each).
  void CloseAllDevices();
  // Both, once.
  void Shutdown();
  bool ShuttingDown() const { return dispatcher_.ShuttingDown(); }
  // Workers started and not yet ended with their end handler.
  size_t LiveWorkers() const { return dispatcher_.LiveWorkers(); }
  TDispatcher& Dispatcher() { return dispatcher_; }

 public slots:
  // The machine's device nodes changed: restart the device timer's count, so that a burst of
  // notifications ends in one tick.
  void DeviceChange();

 signals:
  void DeviceAdded(const TDeviceShown& device);
  void DeviceChanged(uint64_t id, const TDeviceStatus& status);
  void DeviceRemoved(uint64_t id);
  void JobProgress(uint64_t id, int percent);
  // The job's counts behind each progress step and each erase (after JobProgress of the same
  // step); a view that shows only the percentage need not follow it.
  void JobSteps(uint64_t id, const TJobSteps& steps);
  void JobDone(uint64_t id, const TJobOutcome& outcome);
  void ImageLoaded(const TFirmwareVersion& version);
  // A scan's end, after its merge and after the next scan or retry has been scheduled (0: the
  // cycle was whole); not for a scan stopped by the shutdown.
  void ScanEnded(int32_t error_code);
  // A scan cycle failed (its code) because of this tracker; after the log has named it.
  void ScanSpoiled(int32_t error_code, const TScanCulprit& culprit);

 private:
  friend class TSessionWriteHost;

  void DeviceTimerTick();
  void RescanTimerTick();
  void ScanDone(TReadVersion& scan);
  void MergeScan(TReadVersion& scan);
  void ListDevice(std::unique_ptr<TDevEntry> device);
  void DropDevice(const TDevEntry& device);
  void SetStatus(uint64_t id, std::string message, int kind, bool can_write);
  void SetCanWrite(uint64_t id, bool can_write);
  bool LoadImageFile(TFirmwareBlockList& blocks, TFirmwareVersion& version);
  bool LoadImageResource(TFirmwareBlockList& blocks, TFirmwareVersion& version);
  void WriteLogFile(int kind, const std::string& line);

  // Declared first, gone last: workers add to it until the dispatcher's shutdown.
  TEventLog log_;
  TDailyLogFile log_file_;
  TLibraryLoaders loaders_;
  std::string app_path_;
  TDataFolders folders_;

  // Set once, before any device can be found; then read-only, so any thread may use them.
  std::unique_ptr<TFtdiLibrary> ftdi_;
  std::unique_ptr<TQlLibrary> ql_;
  TDeviceChannel channel_{nullptr, nullptr};
  bool libraries_loaded_ = false;
  bool scan_waits_for_libraries_ = false;

  TDevList devices_;              // in the order listed; owned
  mutable std::mutex list_lock_;  // guards devices_'s membership against the scan thread
  uint64_t next_id_ = 1;
  std::map<uint64_t, TDeviceStatus> statuses_;

  TQtDispatcher dispatcher_;
  std::unique_ptr<TReadVersion> scan_;
  TScanNotices scan_notices_;
  bool rescan_pending_ = false;
  int spoiled_retries_ = 0;
  THotPlugSource* hot_plug_ = nullptr;  // a child of the session, from the first scan on
  QTimer device_timer_;                 // 100 ms from construction; restarted by DeviceChange
  QTimer rescan_timer_;                 // 3000 ms, disabled; nothing enables it

  std::unique_ptr<TSessionWriteHost> job_host_;
  std::map<uint64_t, std::unique_ptr<TWriteThread>> jobs_;
  bool auto_write_ = false;

  bool file_mode_ = false;
  QString image_file_;
  TFirmwareVersion image_version_;
  bool shut_down_ = false;
};

}  // namespace updater
