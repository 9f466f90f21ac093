#pragma once
// The headless flashing station: the updater session driven from the command line. It chooses
// which trackers to flash (those found, the serials named, or every one plugged in while it
// watches), starts their jobs, follows them by serial number across re-plugs, writes the
// report row of every finished job and decides the exit code. A failed job's row waits for the
// scan after it, which tells whether the tracker vanished mid-job.
//
// Threads: main thread; the session's workers reach it only through the session's signals.
// Ownership: the station owns the session, the output and the report; the session goes first
// (its shutdown ends every job, and their rows are written on the way).

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "StationOutput.h"
#include "StationReport.h"
#include "UpdaterSession.h"

namespace updater {

// Exit codes, as the README documents them.
inline constexpr int kStationOk = 0;
inline constexpr int kStationJobFailed = 1;
inline constexpr int kStationUsage = 2;
inline constexpr int kStationBadImage = 3;
inline constexpr int kStationMissing = 4;
inline constexpr int kStationLocked = 5;

struct TStationOptions {
  bool List = false;  // the list command; otherwise flash
  bool Json = false;
  bool Watch = false;
  bool Again = false;
  QString Image;  // empty: the embedded image
  std::set<int32_t> Serials;
  QString Report;        // empty: none
  int WaitSeconds = 60;  // how long named trackers and re-plugs are waited for
};

class TStation : public QObject {
 public:
  TStation(TStationOptions options, TStationOutput::TStyle style);
  ~TStation() override;

  // Everything up to the first scan: the report, the image, the libraries. An exit code when
  // the run cannot start (its message has been written to stderr).
  std::optional<int> Start();
  // A first SIGINT or SIGTERM lets running jobs finish; a second stops them.
  void Signal();
  // Set once the run is over; the event loop then ends with it.
  std::optional<int> Result() const { return result_; }

 private:
  TStationUnit& Unit(int32_t serial);
  TStationUnit* UnitById(uint64_t id);
  bool Chosen(int32_t serial) const;
  bool WantsFlash(const TStationUnit& unit) const;
  void OnAdded(const TDeviceShown& shown);
  void OnChanged(uint64_t id, const TDeviceStatus& status);
  void OnRemoved(uint64_t id);
  void OnProgress(uint64_t id, int percent);
  void OnSteps(uint64_t id, const TJobSteps& steps);
  void OnDone(uint64_t id, const TJobOutcome& outcome);
  // Whether the record is no more, or marked removed or unplugged (id 0: no record).
  bool Gone(uint64_t id) const;
  // Tells a failed job's result once it is known whether its tracker went away.
  void Settle(TStationUnit& unit, bool vanished);
  void SettleAll();
  void OnScanEnded(int32_t code);
  void OnDeadline();
  void WriteRow(const TStationUnit& unit, const TJobOutcome& outcome);
  void CheckFinished();
  void Finish();

  TStationOptions options_;
  TStationOutput output_;
  std::optional<TStationReport> report_;
  std::unique_ptr<TUpdaterSession> session_;
  std::map<int32_t, TStationUnit> units_;
  std::map<uint64_t, std::string> status_text_;  // the session's status line per record
  // Failed jobs in TPhase::Checking, by serial: their outcome and the scans still to end
  // before the tracker's presence is known.
  struct TPending {
    TJobOutcome Outcome;
    int ScansLeft = 0;
  };
  std::map<int32_t, TPending> pending_;
  std::set<int32_t> chosen_;  // flash without --watch and without serials: the first scan's
  bool first_scan_settled_ = false;
  bool deadline_passed_ = false;
  int signals_ = 0;
  bool stopping_workers_ = false;
  QTimer deadline_;
  bool collect_errors_ = false;  // while the image is loaded at start
  std::vector<std::string> load_errors_;
  std::string image_version_;
  std::string image_checksum_;
  std::string host_;
  int flashed_ = 0;
  int failed_ = 0;
  std::optional<int> result_;
};

}  // namespace updater
