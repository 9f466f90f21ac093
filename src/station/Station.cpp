#include "Station.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QSysInfo>
#include <cstdio>
#include <exception>

#include "DataFolders.h"
#include "EmbeddedImage.h"
#include "FirmwareFileReader.h"

namespace updater {

namespace {

std::string LocalTimeWithZone() {
  const QDateTime now = QDateTime::currentDateTime();
  const int offset = now.offsetFromUtc();
  const int minutes = (offset < 0 ? -offset : offset) / 60;
  return now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toStdString() +
         (offset < 0 ? '-' : '+') +
         QStringLiteral("%1:%2")
             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
             .arg(minutes % 60, 2, 10, QLatin1Char('0'))
             .toStdString();
}

std::string Sha256(const std::vector<uint8_t>& bytes) {
  const QByteArray data(reinterpret_cast<const char*>(bytes.data()),
                        static_cast<qsizetype>(bytes.size()));
  return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().toStdString();
}

void Complain(const std::string& text) {
  std::fprintf(stderr, "veltorium-station: %s\n", text.c_str());
  std::fflush(stderr);
}

}  // namespace

TStation::TStation(TStationOptions options, TStationOutput::TStyle style)
    : options_(std::move(options)), output_(style) {
  output_.SetUnits(&units_);
  deadline_.setSingleShot(true);
  connect(&deadline_, &QTimer::timeout, this, &TStation::OnDeadline);
}

TStation::~TStation() {
  // Rows of jobs the shutdown ends are still written: the session goes while the station lives.
  session_.reset();
}

std::optional<int> TStation::Start() {
  host_ = QSysInfo::machineHostName().toStdString();
  if (!options_.Report.isEmpty()) {
    report_.emplace(options_.Report);
    std::string reason;
    if (!report_->Open(reason)) {
      Complain("the report file cannot be written (" + reason + "); nothing was flashed");
      return kStationUsage;
    }
  }

  session_ = std::make_unique<TUpdaterSession>();
  // The folder of the executable itself: a link to it elsewhere is followed.
  const std::string app_path = QCoreApplication::applicationDirPath().toStdString() + '/';
  session_->SetFolders(app_path, DataFoldersFor(app_path));
  session_->SetLogToFile(true);
  connect(&session_->Log(), &TEventLog::Line, this, [this](int kind, const std::string& line) {
    if (collect_errors_ && kind == kLogError) {
      load_errors_.push_back(line.substr(line.find('\t') + 1));
    }
    output_.LogLine(kind, line);
  });

  if (!options_.List) {
    // The image is checked before any tracker is touched: the libraries are not loaded yet.
    if (!options_.Image.isEmpty()) {
      session_->SetFileMode(true);
      session_->SetImageFile(options_.Image);
    }
    TFirmwareBlockList blocks;
    TFirmwareVersion version;
    bool loaded = false;
    collect_errors_ = true;
    try {
      loaded = session_->LoadImage(blocks, version);
    } catch (const std::exception& error) {
      load_errors_.emplace_back(error.what());
    }
    collect_errors_ = false;
    FreeBlocks(blocks);
    if (!loaded) {
      std::string why;
      for (const std::string& line : load_errors_) {
        why += (why.empty() ? "" : "; ") + line;
      }
      Complain("the image cannot be loaded: " + why);
      return kStationBadImage;
    }
    image_version_ = version.VersionText();
    if (options_.Image.isEmpty()) {
      image_checksum_ = Sha256(ReadEmbeddedImage().value_or(std::vector<uint8_t>{}));
    } else {
      image_checksum_ =
          Sha256(ReadFirmwareFile(QFile::encodeName(options_.Image).toStdString()).Bytes);
    }
  }

  session_->LoadDriverLibraries();
  if (!session_->HasFtdiLibrary() && !session_->HasQlLibrary()) {
    Complain("neither driver library could be loaded (libftd2xx.so, libZIZUZ.so)");
    return kStationMissing;
  }

  connect(session_.get(), &TUpdaterSession::DeviceAdded, this, &TStation::OnAdded);
  connect(session_.get(), &TUpdaterSession::DeviceChanged, this, &TStation::OnChanged);
  connect(session_.get(), &TUpdaterSession::DeviceRemoved, this, &TStation::OnRemoved);
  connect(session_.get(), &TUpdaterSession::JobSteps, this, &TStation::OnSteps);
  connect(session_.get(), &TUpdaterSession::JobDone, this, &TStation::OnDone);
  connect(session_.get(), &TUpdaterSession::ScanEnded, this, &TStation::OnScanEnded);
  connect(session_.get(), &TUpdaterSession::ScanSpoiled, this,
          [this](int32_t code, const TScanCulprit& culprit) {
            output_.Culprit(code, culprit.Serial, culprit.Driver == kDriverFtdi ? "ftdi" : "ql",
                            culprit.Path);
          });
  if (!options_.List && !options_.Watch) {
    deadline_.start(options_.WaitSeconds * 1000);
  }
  return std::nullopt;
}

TStationUnit& TStation::Unit(int32_t serial) {
  TStationUnit& unit = units_[serial];
  unit.Serial = serial;
  return unit;
}

TStationUnit* TStation::UnitById(uint64_t id) {
  for (auto& [serial, unit] : units_) {
    if (unit.Id == id) {
      return &unit;
    }
  }
  return nullptr;
}

bool TStation::Chosen(int32_t serial) const {
  if (!options_.Serials.empty()) {
    return options_.Serials.count(serial) != 0;
  }
  return options_.Watch || chosen_.count(serial) != 0;
}

bool TStation::WantsFlash(const TStationUnit& unit) const {
  return !options_.List && signals_ == 0 && unit.BootMode && Chosen(unit.Serial) &&
         (unit.Flashed == 0 || (options_.Watch && options_.Again)) &&
         !session_->JobRunning(unit.Id);
}

void TStation::OnAdded(const TDeviceShown& shown) {
  const TDevEntry* device = session_->Device(shown.Id);
  if (device == nullptr) {
    return;
  }
  const bool known = units_.count(shown.Serial) != 0;
  TStationUnit& unit = Unit(shown.Serial);
  const std::string from = known ? (unit.BootMode ? "boot" : "firmware") : "";
  unit.Id = shown.Id;
  unit.Driver = device->Driver == kDriverFtdi ? "ftdi" : "ql";
  unit.BootMode = shown.BootMode;
  unit.Firmware = shown.FirmwareText;
  unit.BootLoader = shown.LoaderText;
  unit.ProcessorId = device->ProcessorId;
  unit.WaitsReplug = !shown.BootMode && device->BootStarted;
  // What the tracker ran before this run's job: a tracker sent into its boot loader keeps the
  // version its firmware told.
  if (!known || unit.Phase == TStationUnit::TPhase::Done) {
    unit.FirmwareBefore = unit.Firmware;
  }
  if (!first_scan_settled_ && !options_.Watch && options_.Serials.empty()) {
    chosen_.insert(shown.Serial);
  }
  if (options_.List) {
    // The list comes whole once the first scan has settled.
  } else if (known && from != (unit.BootMode ? "boot" : "firmware")) {
    output_.ModeChange(unit, from);
  } else {
    output_.Found(unit);
  }
  if (unit.WaitsReplug) {
    if (Chosen(unit.Serial) && !options_.List) {
      unit.Phase = TStationUnit::TPhase::Replug;
    }
  } else if (WantsFlash(unit)) {
    unit.Phase = TStationUnit::TPhase::Queued;
    unit.Percent = 0;
    unit.Steps = TJobSteps{};
    // After the session has logged the whole listing of the tracker.
    const uint64_t id = shown.Id;
    QTimer::singleShot(0, this, [this, id] {
      TStationUnit* queued = UnitById(id);
      if (queued == nullptr || queued->Phase != TStationUnit::TPhase::Queued) {
        return;
      }
      if (signals_ == 0) {
        session_->RequestWrite(id);
      }
      if (session_->JobRunning(id)) {
        queued->Phase = TStationUnit::TPhase::Flashing;
        output_.Started(*queued);
      } else {
        queued->Phase = TStationUnit::TPhase::Seen;
        CheckFinished();
      }
    });
  } else if (unit.Phase != TStationUnit::TPhase::Done) {
    unit.Phase = TStationUnit::TPhase::Seen;
  }
}

void TStation::OnChanged(uint64_t id, const TDeviceStatus& status) {
  status_text_[id] = status.Message;
}

void TStation::OnRemoved(uint64_t id) {
  status_text_.erase(id);
  TStationUnit* unit = UnitById(id);
  if (unit == nullptr) {
    return;
  }
  if (options_.List) {
    // The list tells what the first scan found. A tracker that scan sent into its boot loader
    // leaves at once, and on a slow machine the scan its leaving brings can end before the
    // list is printed: it stays listed, as waiting for its re-plug.
    return;
  }
  if (pending_.count(unit->Serial) != 0 && !result_) {
    Settle(*unit, true);
  }
  unit->Id = 0;
  if (unit->Phase == TStationUnit::TPhase::Queued) {
    unit->Phase = TStationUnit::TPhase::Seen;
  }
  if (result_) {
    return;  // the session's own shutdown closes every device: nothing to tell
  }
  output_.Removed(*unit);
  CheckFinished();
}

void TStation::OnSteps(uint64_t id, const TJobSteps& steps) {
  TStationUnit* unit = UnitById(id);
  if (unit == nullptr || unit->Phase != TStationUnit::TPhase::Flashing) {
    return;
  }
  unit->Steps = steps;
  const int percent = steps.TotalParts > 0
                          ? static_cast<int>(int64_t{steps.PartsDone} * 100 / steps.TotalParts)
                          : 0;
  const int shown = unit->Percent;
  unit->Percent = percent;
  // JSON Lines tell every percent; plain lines every tenth.
  const bool tell = output_.Style() == TStationOutput::TStyle::Json ? percent != shown
                                                                    : percent / 10 != shown / 10;
  if (tell) {
    output_.Progress(*unit);
  }
}

void TStation::OnDone(uint64_t id, const TJobOutcome& outcome) {
  TStationUnit* unit = UnitById(id);
  if (unit == nullptr) {
    return;
  }
  unit->Steps = outcome.Steps;
  unit->ResultCode = outcome.ResultCode;
  unit->ResultText = status_text_[id];
  const bool gone = Gone(id);
  if (outcome.ResultCode == kWriteSucceeded || gone || session_->ShuttingDown()) {
    pending_[unit->Serial] = TPending{outcome, 0};
    Settle(*unit, outcome.ResultCode != kWriteSucceeded && gone);
    return;
  }
  // A tracker pulled out mid-job fails its requests at once, before the scan that the pull
  // sets off has marked it gone: only a scan that starts after the job's end can tell a
  // vanished tracker from one that refused.
  unit->Phase = TStationUnit::TPhase::Checking;
  pending_[unit->Serial] = TPending{outcome, session_->ScanRunning() ? 2 : 1};
  session_->StartScan();
}

bool TStation::Gone(uint64_t id) const {
  const TDevEntry* device = id != 0 ? session_->Device(id) : nullptr;
  return device == nullptr || device->Removed || device->Unplugged;
}

void TStation::Settle(TStationUnit& unit, bool vanished) {
  const auto found = pending_.find(unit.Serial);
  if (found == pending_.end()) {
    return;
  }
  const TJobOutcome outcome = found->second.Outcome;
  pending_.erase(found);
  unit.Vanished = vanished;
  if (vanished) {
    unit.ResultText += " (прибор пропал во время прошивки)";
  }
  unit.Phase = TStationUnit::TPhase::Done;
  ++unit.Flashed;
  if (outcome.ResultCode == kWriteSucceeded) {
    ++flashed_;
  } else {
    ++failed_;
  }
  WriteRow(unit, outcome);
  output_.Done(unit);
  CheckFinished();
}

// What is known now decides: a tracker whose record went or was marked gone vanished.
void TStation::SettleAll() {
  while (!pending_.empty()) {
    TStationUnit& unit = Unit(pending_.begin()->first);
    Settle(unit, Gone(unit.Id));
  }
}

void TStation::WriteRow(const TStationUnit& unit, const TJobOutcome& outcome) {
  if (!report_) {
    return;
  }
  TReportRow row;
  row.Time = LocalTimeWithZone();
  row.Host = host_;
  row.Serial = unit.Serial;
  row.Driver = unit.Driver;
  row.ProcessorId = unit.ProcessorId;
  row.FirmwareBefore = unit.FirmwareBefore;
  row.BootLoader = unit.BootLoader;
  row.ImageVersion = image_version_;
  row.ImageChecksum = image_checksum_;
  row.ResultCode = outcome.ResultCode;
  row.ResultText = unit.ResultText;
  row.DurationMs = outcome.Elapsed;
  row.Retries = outcome.Steps.Retries;
  row.SectorsErased = outcome.Steps.SectorsErased;
  row.SectorsWritten = outcome.Steps.SectorsWritten;
  std::string reason;
  if (!report_->Append(row, reason)) {
    // The run goes on (the trackers are being flashed), but it cannot end as a success.
    Complain("the report row of " + std::to_string(unit.Serial) + " was not written: " + reason);
    ++failed_;
  }
}

void TStation::OnScanEnded(int32_t code) {
  if (code == 0) {
    output_.Culprit(0, 0, {}, {});
  }
  std::vector<int32_t> known;
  for (auto& [serial, pending] : pending_) {
    if (--pending.ScansLeft <= 0) {
      known.push_back(serial);
    }
  }
  for (const int32_t serial : known) {
    TStationUnit& unit = Unit(serial);
    Settle(unit, Gone(unit.Id));
  }
  if (first_scan_settled_ || session_->ScanRunning() || session_->ScanDue()) {
    return;
  }
  first_scan_settled_ = true;
  if (options_.List) {
    for (const auto& [serial, unit] : units_) {
      if (unit.Id != 0) {
        output_.ListEntry(unit);
      }
    }
    result_ = kStationOk;
    QCoreApplication::exit(kStationOk);
    return;
  }
  CheckFinished();
}

void TStation::OnDeadline() {
  deadline_passed_ = true;
  for (const int32_t serial : options_.Serials.empty() ? chosen_ : options_.Serials) {
    const auto found = units_.find(serial);
    if (found == units_.end() || found->second.Phase == TStationUnit::TPhase::Replug ||
        (found->second.Phase == TStationUnit::TPhase::Seen && found->second.Flashed == 0)) {
      output_.Note("tracker " + std::to_string(serial) + " did not appear ready within " +
                   std::to_string(options_.WaitSeconds) + " s");
    }
  }
  CheckFinished();
}

void TStation::Signal() {
  ++signals_;
  if (result_) {
    return;
  }
  if (signals_ == 1) {
    output_.Note("stopping: running jobs finish; a second signal stops them");
    CheckFinished();
    return;
  }
  if (signals_ == 2) {
    output_.Note("stopping the running jobs");
    stopping_workers_ = true;
    session_->StopWorkers();  // the jobs' end handlers run inside: their rows are written
    stopping_workers_ = false;
    SettleAll();  // no scan ends any more
    CheckFinished();
  }
}

void TStation::CheckFinished() {
  if (result_ || options_.List || stopping_workers_) {
    return;
  }
  bool busy = session_->RunningJobs() > 0 || !pending_.empty();
  for (const auto& [serial, unit] : units_) {
    busy = busy || unit.Phase == TStationUnit::TPhase::Queued;
  }
  if (signals_ > 0) {
    if (!busy) {
      Finish();
    }
    return;
  }
  if (options_.Watch || !first_scan_settled_ || busy) {
    return;
  }
  bool all_done = true;
  for (const int32_t serial : options_.Serials.empty() ? chosen_ : options_.Serials) {
    const auto found = units_.find(serial);
    all_done = all_done && found != units_.end() && found->second.Flashed > 0;
  }
  if (all_done || deadline_passed_) {
    Finish();
  }
}

void TStation::Finish() {
  int missing = 0;
  if (!options_.Watch) {
    const std::set<int32_t>& wanted = options_.Serials.empty() ? chosen_ : options_.Serials;
    for (const int32_t serial : wanted) {
      const auto found = units_.find(serial);
      missing += found == units_.end() || found->second.Flashed == 0 ? 1 : 0;
    }
    if (wanted.empty()) {
      output_.Note("no tracker was found");
      missing = 1;
    }
  }
  int code = kStationOk;
  if (failed_ > 0) {
    code = kStationJobFailed;
  } else if (missing > 0) {
    code = kStationMissing;
  }
  output_.Summary(flashed_, failed_, missing, code);
  result_ = code;
  QCoreApplication::exit(code);
}

}  // namespace updater
