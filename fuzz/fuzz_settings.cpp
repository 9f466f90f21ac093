// Arbitrary bytes as the settings file, and as the MainForm value on its own: reading the file,
// the window's values taken from it, and the file set out again must hold up. What the window
// takes must stay within the limits it is given, and what the shutdown would write must read
// back as the same entries.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SettingsFile.h"
#include "SettingsValues.h"

using namespace updater;

namespace {

// A common desktop, one smaller than the window's least size, and no screen at all.
constexpr TFormLimits kLimits[] = {
    {1920, 1080, 640, 480},
    {320, 200, 640, 480},
    {0, 0, 640, 480},
};

void CheckForm(std::string_view text) {
  for (const TFormLimits& limits : kLimits) {
    const std::optional<TStoredForm> form = ParseMainFormValue(text, limits);
    if (!form) {
      continue;
    }
    const bool left_ok =
        form->Left == -1 || (form->Left >= 0 && form->Left < limits.DesktopWidth - 100);
    const bool top_ok =
        form->Top == -1 || (form->Top >= 0 && form->Top < limits.DesktopHeight - 100);
    const bool width_ok =
        form->Width >= -1 && form->Width <= std::max(limits.DesktopWidth, limits.MinWidth);
    const bool height_ok =
        form->Height >= -1 && form->Height <= std::max(limits.DesktopHeight, limits.MinHeight);
    const bool flags_ok = form->AutoWrite >= -1 && form->AutoWrite <= 1 && form->WriteLog >= -1 &&
                          form->WriteLog <= 1 && form->LogHeight >= -1;
    if (!left_ok || !top_ok || !width_ok || !height_ok || !flags_ok) {
      __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckForm(text);

  TSettingsFile file("");
  if (!file.Parse(text)) {
    return 0;
  }
  CheckForm(file.Value("COMMON", "MainForm", ""));
  (void)file.Value("COMMON", "BDURL", "");
  (void)file.Value("COMMON", "LastFile", "");
  const std::vector<std::string> files = RecentFiles(file);

  // The shutdown writes the list back under the keys 0, 1, ... into the entries it read: the
  // file as set out must read back as the entries it was set out from.
  for (size_t i = 0; i < files.size(); ++i) {
    file.SetValue("FILES", std::to_string(i).c_str(), files[i]);
  }
  const std::optional<std::string> saved = file.Text();
  if (!saved) {
    return 0;
  }
  TSettingsFile again("");
  if (!again.Parse(*saved)) {
    __builtin_trap();
  }
  for (size_t i = 0; i < files.size(); ++i) {
    if (again.Value("FILES", std::to_string(i).c_str(), "") != files[i]) {
      __builtin_trap();
    }
  }
  for (const char* section : {"COMMON", "FILES"}) {
    const std::vector<std::string> keys = file.Keys(section);
    if (again.Keys(section) != keys) {
      __builtin_trap();
    }
    for (const std::string& key : keys) {
      if (again.Value(section, key.c_str(), "") != file.Value(section, key.c_str(), "")) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
