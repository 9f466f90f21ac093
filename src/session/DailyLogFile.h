#pragma once
// The event log's daily file: YYYYMMDD.log in the Logs folder, one record per line
// ("[dd.MM.yyyy hh:mm:ss.zzz]\t" line CR LF) in Windows-1251, written while it is switched on.
//
// A failure loses that line from the file only; the next line tries again. The first failure
// after a success comes back as a text to tell, so the file is never lost unnoticed, and is
// told again only after a later success.
//
// Threads: one thread uses it (the session's main thread, as a consumer of the event log).

#include <optional>
#include <string>

namespace updater {

class TDailyLogFile {
 public:
  // folder: the Logs folder with a trailing '/'; empty: there is no place for it (every write
  // fails). No line is written before a folder is set.
  void SetFolder(const std::string& folder);
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  bool Enabled() const { return enabled_; }

  // Appends one line when switched on. Returns what to tell about a failure, once.
  std::optional<std::string> Write(const std::string& line);

 private:
  std::optional<std::string> Failed(std::string what);

  bool enabled_ = false;
  bool has_folder_ = false;
  std::string folder_;
  bool failed_ = false;
};

}  // namespace updater
