#pragma once
// The program's INI file: read whole, looked up and changed entry by entry, written whole.
// Sections, keys and lines it does not change stay as they were, in the file's own order.
//
// Threads: any; an object belongs to its creator.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DataFolders.h"

namespace updater {

inline constexpr char kSettingsFileName[] = "ZUDUDerovo.ini";

// The folders the main window keeps its settings file and its Logs folder in: those of the
// program's rule (DataFolders.h) for its program folder, unless this process has redirected
// both into one folder of its own (test processes keep their windows away from the build's
// executables, the user's folders and each other). An empty folder ends the redirection.
// Main thread only.
void SetSettingsFolder(std::string folder);
std::string SettingsFolderOverride();
TDataFolders WindowDataFolders(const std::string& app_path);

class TSettingsFile {
 public:
  explicit TSettingsFile(std::string path);
  ~TSettingsFile();

  // Reads the file. A missing file reads as empty. False when the name exists but cannot be
  // read as a settings file (a folder, no permission, larger than any settings file the
  // program writes could grow to): then it reads as empty too, and must not be written over.
  bool Read();
  // Takes the entries from a file's bytes in place of those held before; false when the
  // library cannot read them.
  bool Parse(const std::string& data);

  std::string Value(const char* section, const char* key, const std::string& fallback) const;
  // The keys of a section in the order they stand in the file; none for a missing section.
  std::vector<std::string> Keys(const char* section) const;
  void SetValue(const char* section, const char* key, const std::string& value);

  // The current entries as "key=value" lines, as Write puts them into the file.
  // None when the library cannot set them out.
  std::optional<std::string> Text() const;
  // Replaces the file with the current entries as "key=value" lines; a failure leaves the old
  // file as it was. False when it cannot be written.
  bool Write() const;

 private:
  struct TIni;  // the INI library stays inside SettingsFile.cpp
  std::string path_;
  std::unique_ptr<TIni> ini_;
};

}  // namespace updater
