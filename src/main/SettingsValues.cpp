#include "SettingsValues.h"

#include <algorithm>
#include <array>

#include "ScanDecimal.h"

namespace updater {

namespace {

constexpr char kFiles[] = "FILES";
constexpr char kMainFormPattern[] = "%d,%d,%d,%d,%d,%d,%d";
// A position this close to the desktop's right or bottom edge would leave the window out of
// reach.
constexpr int kEdgeReserve = 100;

}  // namespace

std::optional<TStoredForm> ParseMainFormValue(std::string_view text, const TFormLimits& limits) {
  std::array<int32_t, 7> v;
  v.fill(-1);
  if (ScanDecimals(text, kMainFormPattern, v) < 4) {
    return std::nullopt;
  }
  TStoredForm form;
  if (v[0] >= 0 && v[0] < limits.DesktopWidth - kEdgeReserve) {
    form.Left = v[0];
  }
  if (v[1] >= 0 && v[1] < limits.DesktopHeight - kEdgeReserve) {
    form.Top = v[1];
  }
  // Like the platform, no window grows past the desktop.
  if (v[2] >= 0) {
    form.Width = std::min(v[2], std::max(limits.DesktopWidth, limits.MinWidth));
  }
  if (v[3] >= 0) {
    form.Height = std::min(v[3], std::max(limits.DesktopHeight, limits.MinHeight));
  }
  if (v[4] >= 0) {
    form.AutoWrite = v[4] != 0 ? 1 : 0;
  }
  if (v[5] >= 0) {
    form.LogHeight = v[5];
  }
  if (v[6] >= 0) {
    form.WriteLog = v[6] != 0 ? 1 : 0;
  }
  return form;
}

std::vector<std::string> RecentFiles(const TSettingsFile& file) {
  std::vector<std::string> files;
  for (const std::string& key : file.Keys(kFiles)) {
    std::string name = file.Value(kFiles, key.c_str(), "");
    if (!name.empty()) {
      files.push_back(std::move(name));
    }
  }
  return files;
}

}  // namespace updater
