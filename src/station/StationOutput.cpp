#include "StationOutput.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cstdio>

#include "TextFormat.h"
#include "WriteResult.h"

namespace updater {

namespace {

constexpr int kRedrawMs = 200;

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

std::string Now() {
  const QDateTime now = QDateTime::currentDateTime();
  // With its offset from UTC, so that lines of stations in several zones compare.
  return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs).toStdString();
}

QJsonObject Event(const char* name) {
  QJsonObject object;
  object[QStringLiteral("event")] = QString::fromLatin1(name);
  object[QStringLiteral("time")] = Q(Now());
  return object;
}

void AddUnit(QJsonObject& object, const TStationUnit& unit) {
  object[QStringLiteral("serial")] = unit.Serial;
  object[QStringLiteral("driver")] = Q(unit.Driver);
}

std::string Json(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

double BytesPerSecond(const TJobSteps& steps) {
  return steps.FlashMs > 0 ? steps.PartsWritten * 512.0 * 1000.0 / steps.FlashMs : 0.0;
}

const char* PhaseName(const TStationUnit& unit) {
  switch (unit.Phase) {
    case TStationUnit::TPhase::Seen:
      return unit.BootMode ? "ready" : "firmware";
    case TStationUnit::TPhase::Replug:
      return "re-plug";
    case TStationUnit::TPhase::Queued:
      return "queued";
    case TStationUnit::TPhase::Flashing:
      if (unit.Steps.FlashMs == 0) {
        return "loading";
      }
      return unit.Steps.SectorsErased > unit.Steps.SectorsWritten ? "writing" : "erasing";
    case TStationUnit::TPhase::Checking:
      return "checking";
    case TStationUnit::TPhase::Done:
      return "done";
  }
  return "";
}

int TerminalColumns() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return 80;
}

// The columns a line may fill: the last one is left free, since a character there makes some
// terminals wrap at the next one.
int Room(int columns) {
  return columns > 1 ? columns - 1 : 1;
}

bool Fits(const std::string& line, int columns) {
  return QString::fromStdString(line).size() <= Room(columns);
}

// A line that fits the terminal: a line that wrapped would break the count of lines to redraw.
std::string Fit(const std::string& line, int columns) {
  if (Fits(line, columns)) {
    return line;
  }
  return QString::fromStdString(line).left(Room(columns)).toStdString();
}

}  // namespace

std::string RateText(double bytes_per_second) {
  if (bytes_per_second >= 1024.0 * 1024.0) {
    return Format("%.1f MB/s", bytes_per_second / (1024.0 * 1024.0));
  }
  if (bytes_per_second >= 1024.0) {
    return Format("%.1f kB/s", bytes_per_second / 1024.0);
  }
  return Format("%.0f B/s", bytes_per_second);
}

std::string TimeLeftText(int64_t ms) {
  if (ms < 0) {
    return "--:--";
  }
  const int64_t seconds = (ms + 999) / 1000;
  return Format("%lld:%02lld", static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
}

TStationOutput::TStationOutput(TStyle style) : style_(style) {
  redraw_.setInterval(kRedrawMs);
  connect(&redraw_, &QTimer::timeout, this, &TStationOutput::Redraw);
}

TStationOutput::~TStationOutput() {
  if (style_ == TStyle::Live) {
    EraseLive();
  }
}

void TStationOutput::Emit(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void TStationOutput::EraseLive() {
  if (live_lines_ > 0) {
    std::fprintf(stdout, "\x1b[%dA\r\x1b[J", live_lines_);
    live_lines_ = 0;
  }
}

void TStationOutput::Scroll(const std::string& line) {
  if (style_ != TStyle::Live) {
    Emit(line);
    return;
  }
  EraseLive();
  Emit(Fit(line, TerminalColumns()));
  Redraw();
}

std::string TStationOutput::LiveLine(const TStationUnit& unit, int columns) const {
  std::string rate_and_left;
  if (unit.Phase == TStationUnit::TPhase::Flashing) {
    rate_and_left = RateText(BytesPerSecond(unit.Steps)) + "  " +
                    TimeLeftText(EstimateMsLeft(unit.Steps)) + " left";
  }
  const std::string aligned =
      Format("%10d  %-8s %3d%%", unit.Serial, PhaseName(unit), unit.Percent) +
      (rate_and_left.empty() ? "" : "  " + rate_and_left);
  if (Fits(aligned, columns)) {
    return aligned;
  }
  // Too narrow for the columns: cut, the aligned line would lose the serial's last digits
  // first, and the serial is what the operator goes by.
  return Format("%d %s %d%%", unit.Serial, PhaseName(unit), unit.Percent) +
         (rate_and_left.empty() ? "" : " " + rate_and_left);
}

void TStationOutput::Redraw() {
  if (style_ != TStyle::Live) {
    return;
  }
  EraseLive();
  const int columns = TerminalColumns();
  std::string block;
  int lines = 0;
  if (units_ != nullptr) {
    for (const auto& [serial, unit] : *units_) {
      if (unit.Phase == TStationUnit::TPhase::Replug ||
          unit.Phase == TStationUnit::TPhase::Queued ||
          unit.Phase == TStationUnit::TPhase::Flashing ||
          unit.Phase == TStationUnit::TPhase::Checking) {
        block += "\x1b[2K" + Fit(LiveLine(unit, columns), columns) + "\n";
        ++lines;
      }
    }
  }
  if (!culprit_.empty()) {
    block += "\x1b[2K" + Fit(culprit_, columns) + "\n";
    ++lines;
  }
  std::fwrite(block.data(), 1, block.size(), stdout);
  std::fflush(stdout);
  live_lines_ = lines;
  if (lines > 0 && !redraw_.isActive()) {
    redraw_.start();
  } else if (lines == 0) {
    redraw_.stop();
  }
}

void TStationOutput::Found(const TStationUnit& unit) {
  if (style_ == TStyle::Json) {
    QJsonObject object = Event("found");
    AddUnit(object, unit);
    object[QStringLiteral("mode")] = unit.BootMode ? "boot" : "firmware";
    object[QStringLiteral("firmware")] = Q(unit.Firmware);
    object[QStringLiteral("boot_loader")] = Q(unit.BootLoader);
    object[QStringLiteral("processor")] = Q(Format("0x%08X", unit.ProcessorId));
    object[QStringLiteral("waits_replug")] = unit.WaitsReplug;
    Emit(Json(object));
    return;
  }
  Scroll(Format("found %d %s %s firmware %s boot-loader %s processor 0x%08X%s", unit.Serial,
                unit.Driver.c_str(), unit.BootMode ? "boot" : "firmware", unit.Firmware.c_str(),
                unit.BootLoader.empty() ? "-" : unit.BootLoader.c_str(), unit.ProcessorId,
                unit.WaitsReplug ? " (waits for a re-plug)" : ""));
}

void TStationOutput::ModeChange(const TStationUnit& unit, const std::string& from) {
  const char* to = unit.BootMode ? "boot" : "firmware";
  if (style_ == TStyle::Json) {
    QJsonObject object = Event("mode");
    AddUnit(object, unit);
    object[QStringLiteral("from")] = Q(from);
    object[QStringLiteral("to")] = QString::fromLatin1(to);
    Emit(Json(object));
    return;
  }
  Scroll(Format("mode %d %s -> %s", unit.Serial, from.c_str(), to));
}

void TStationOutput::Removed(const TStationUnit& unit) {
  if (style_ == TStyle::Json) {
    QJsonObject object = Event("removed");
    AddUnit(object, unit);
    Emit(Json(object));
    return;
  }
  if (style_ == TStyle::Plain) {
    Emit(Format("removed %d", unit.Serial));
  } else {
    Redraw();
  }
}

void TStationOutput::Started(const TStationUnit& unit) {
  if (style_ == TStyle::Json) {
    QJsonObject object = Event("start");
    AddUnit(object, unit);
    Emit(Json(object));
  } else if (style_ == TStyle::Plain) {
    Emit(Format("start %d", unit.Serial));
  } else {
    Redraw();
  }
}

void TStationOutput::Progress(const TStationUnit& unit) {
  const TJobSteps& steps = unit.Steps;
  const int64_t left = EstimateMsLeft(steps);
  if (style_ == TStyle::Json) {
    QJsonObject object = Event("progress");
    AddUnit(object, unit);
    object[QStringLiteral("percent")] = unit.Percent;
    object[QStringLiteral("bytes_per_s")] = static_cast<qint64>(BytesPerSecond(steps));
    object[QStringLiteral("ms_left")] = static_cast<qint64>(left);
    object[QStringLiteral("flash_ms")] = steps.FlashMs;
    object[QStringLiteral("sectors_erased")] = steps.SectorsErased;
    object[QStringLiteral("sectors_to_write")] = steps.SectorsToWrite;
    object[QStringLiteral("parts_written")] = steps.PartsWritten;
    object[QStringLiteral("parts_to_write")] = steps.PartsToWrite;
    object[QStringLiteral("retries")] = steps.Retries;
    Emit(Json(object));
  } else if (style_ == TStyle::Plain) {
    Emit(Format("progress %d %d%% %s %s left", unit.Serial, unit.Percent,
                RateText(BytesPerSecond(steps)).c_str(), TimeLeftText(left).c_str()));
  }
  // The live style redraws on its timer.
}

void TStationOutput::LogLine(int kind, const std::string& line) {
  if (style_ != TStyle::Json) {
    return;  // the daily log file keeps them; a terminal shows the events
  }
  QJsonObject object = Event("log");
  object[QStringLiteral("kind")] = kind;
  // "Прибор 1234567\ttext" or "Прибор -------\ttext"
  const size_t tab = line.find('\t');
  int32_t serial = 0;
  std::string text = line;
  if (tab != std::string::npos) {
    const std::string prefix = line.substr(0, tab);
    const size_t digits = prefix.find_first_of("0123456789");
    if (digits != std::string::npos) {
      serial = static_cast<int32_t>(std::strtol(prefix.c_str() + digits, nullptr, 10));
    }
    text = line.substr(tab + 1);
  }
  object[QStringLiteral("serial")] = serial;
  object[QStringLiteral("text")] = Q(text);
  Emit(Json(object));
}

void TStationOutput::Done(const TStationUnit& unit) {
  if (style_ == TStyle::Json) {
    QJsonObject object = Event("done");
    AddUnit(object, unit);
    object[QStringLiteral("code")] = unit.ResultCode;
    object[QStringLiteral("text")] = Q(unit.ResultText);
    object[QStringLiteral("duration_ms")] = unit.Steps.ElapsedMs;
    object[QStringLiteral("flash_ms")] = unit.Steps.FlashMs;
    object[QStringLiteral("retries")] = unit.Steps.Retries;
    object[QStringLiteral("sectors_erased")] = unit.Steps.SectorsErased;
    object[QStringLiteral("sectors_written")] = unit.Steps.SectorsWritten;
    object[QStringLiteral("vanished")] = unit.Vanished;
    Emit(Json(object));
    return;
  }
  const bool ok = unit.ResultCode == kWriteSucceeded;
  if (style_ == TStyle::Live &&
      !Fits(Format("done %d %s code %d", unit.Serial, ok ? "OK" : "FAILED", unit.ResultCode),
            TerminalColumns())) {
    // A terminal too narrow for the result's head still shows the serial whole and then its
    // result: "1234 OK", or "1234 E5" for code 5.
    Scroll(ok ? Format("%d OK", unit.Serial) : Format("%d E%d", unit.Serial, unit.ResultCode));
    return;
  }
  Scroll(Format("done %d %s code %d: %s (%.1f s, %d sectors, %d retries)", unit.Serial,
                ok ? "OK" : "FAILED", unit.ResultCode, unit.ResultText.c_str(),
                unit.Steps.ElapsedMs / 1000.0, unit.Steps.SectorsWritten, unit.Steps.Retries));
}

void TStationOutput::Culprit(int32_t code, int32_t serial, const std::string& driver,
                             const std::string& path) {
  if (serial == 0) {
    if (!culprit_.empty()) {
      culprit_.clear();
      Redraw();
    }
    return;
  }
  if (style_ == TStyle::Json) {
    QJsonObject object = Event("culprit");
    object[QStringLiteral("serial")] = serial;
    object[QStringLiteral("driver")] = Q(driver);
    object[QStringLiteral("path")] = Q(path);
    object[QStringLiteral("code")] = code;
    Emit(Json(object));
    return;
  }
  const std::string line =
      Format("PULL %d (%s%s%s): it stops the scan (code %d); every other tracker waits", serial,
             driver.c_str(), path.empty() ? "" : ", ", path.c_str(), code);
  if (style_ == TStyle::Plain) {
    Emit(line);
    return;
  }
  culprit_ = line;
  Redraw();
}

void TStationOutput::ListEntry(const TStationUnit& unit) {
  if (style_ == TStyle::Json) {
    Found(unit);
    return;
  }
  Emit(Format("%10d  %-4s  %-8s  firmware %-12s  boot-loader %-12s  processor 0x%08X%s",
              unit.Serial, unit.Driver.c_str(), unit.BootMode ? "boot" : "firmware",
              unit.Firmware.c_str(), unit.BootLoader.empty() ? "-" : unit.BootLoader.c_str(),
              unit.ProcessorId, unit.WaitsReplug ? "  waits for a re-plug" : ""));
}

void TStationOutput::Note(const std::string& text) {
  if (style_ == TStyle::Json) {
    QJsonObject object = Event("note");
    object[QStringLiteral("text")] = Q(text);
    Emit(Json(object));
    return;
  }
  Scroll(text);
}

void TStationOutput::Summary(int flashed, int failed, int missing, int exit_code) {
  if (style_ == TStyle::Json) {
    QJsonObject object = Event("summary");
    object[QStringLiteral("flashed")] = flashed;
    object[QStringLiteral("failed")] = failed;
    object[QStringLiteral("missing")] = missing;
    object[QStringLiteral("exit_code")] = exit_code;
    Emit(Json(object));
    return;
  }
  culprit_.clear();
  Scroll(Format("summary: %d flashed, %d failed, %d missing; exit code %d", flashed, failed,
                missing, exit_code));
}

}  // namespace updater
