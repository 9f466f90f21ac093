#pragma once
// What the station tells while it runs, in one of three styles: live lines on a terminal (one
// line per tracker at work redrawn in place, finished trackers scrolling up as one line each;
// every line cut to the terminal's width, and on a terminal too narrow for the aligned columns
// each tracker's line starts with its whole serial),
// plain event lines when stdout is no terminal, or JSON Lines (--json), one object per event.
//
// Threads: main thread. The output writes to stdout; messages for the user (errors, the
// summary in the live style) go to stderr only where said.

#include <QTimer>
#include <cstdint>
#include <map>
#include <string>

#include "WriteHost.h"

namespace updater {

// One tracker as the station follows it, by serial number across re-plugs.
struct TStationUnit {
  // Checking: its job failed, and the scan that follows tells whether the tracker is still
  // there; its result is told once that scan has ended.
  enum class TPhase { Seen, Replug, Queued, Flashing, Checking, Done };

  int32_t Serial = 0;
  uint64_t Id = 0;     // the session's record now listed for it; 0 while none is
  std::string Driver;  // "ftdi" or "ql"
  bool BootMode = false;
  bool WaitsReplug = false;  // sent into its boot loader, not yet back
  std::string FirmwareBefore;
  std::string Firmware;
  std::string BootLoader;
  uint32_t ProcessorId = 0;
  TPhase Phase = TPhase::Seen;
  int Percent = 0;
  TJobSteps Steps;
  int Flashed = 0;  // jobs finished on it in this run
  int32_t ResultCode = 0;
  std::string ResultText;
  bool Vanished = false;  // its last job lost it
};

class TStationOutput : public QObject {
 public:
  enum class TStyle { Live, Plain, Json };
  explicit TStationOutput(TStyle style);
  ~TStationOutput() override;

  TStyle Style() const { return style_; }
  // The units the live lines show; the station owns them.
  void SetUnits(const std::map<int32_t, TStationUnit>* units) { units_ = units; }

  void Found(const TStationUnit& unit);
  void ModeChange(const TStationUnit& unit, const std::string& from);
  void Removed(const TStationUnit& unit);
  void Started(const TStationUnit& unit);
  void Progress(const TStationUnit& unit);
  void LogLine(int kind, const std::string& line);
  void Done(const TStationUnit& unit);
  // The tracker that spoiled the scan; serial 0 clears it.
  void Culprit(int32_t code, int32_t serial, const std::string& driver, const std::string& path);
  void ListEntry(const TStationUnit& unit);
  void Note(const std::string& text);  // a plain remark (signal received, waiting, ...)
  void Summary(int flashed, int failed, int missing, int exit_code);

 private:
  void Emit(const std::string& json_or_text);
  void Scroll(const std::string& line);
  void Redraw();
  void EraseLive();
  std::string LiveLine(const TStationUnit& unit, int columns) const;

  TStyle style_;
  const std::map<int32_t, TStationUnit>* units_ = nullptr;
  QTimer redraw_;
  int live_lines_ = 0;  // lines of the live block now on the screen
  std::string culprit_;
};

// "1.2 kB/s" style rate, and "m:ss" of a time left ("--:--" when unknown).
std::string RateText(double bytes_per_second);
std::string TimeLeftText(int64_t ms);

}  // namespace updater
