#pragma once
// What the window's own settings say, read from the settings file's texts without any widget:
// the MainForm value (placement, options, log height) and the list of recent image files.
// Pure functions; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SettingsFile.h"

namespace updater {

// The screen the window is placed on, and the window's own least size.
struct TFormLimits {
  int DesktopWidth = 0;
  int DesktopHeight = 0;
  int MinWidth = 0;
  int MinHeight = 0;
};

// The MainForm value "left,top,width,height,autowrite,logheight,writelog", each -1 when the
// value does not give it or gives it out of reach. Positions are the outer frame's corner,
// sizes the outer ones.
struct TStoredForm {
  int32_t Left = -1;       // 0 <= Left < desktop width - 100
  int32_t Top = -1;        // 0 <= Top < desktop height - 100
  int32_t Width = -1;      // no wider than the desktop, unless the window's least width is
  int32_t Height = -1;     // likewise
  int32_t AutoWrite = -1;  // 0 or 1
  int32_t LogHeight = -1;  // the log's wanted height, >= 0; the window caps it by its room
  int32_t WriteLog = -1;   // 0 or 1
};

// None when the value holds fewer than four numbers: the window is then left as designed.
std::optional<TStoredForm> ParseMainFormValue(std::string_view text, const TFormLimits& limits);

// The non-empty values of the [FILES] section, in the order they stand in the file.
std::vector<std::string> RecentFiles(const TSettingsFile& file);

}  // namespace updater
