#include "SettingsFile.h"

#include <sys/stat.h>

// Narrow text only: names and values are UTF-8 bytes, passed through unconverted. The library
// is used header-only, its template definitions instantiated here.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <string_view>

namespace updater {

namespace {

// Far beyond anything the program writes (a few hundred bytes per recent file); a larger file
// is not taken into memory.
constexpr off_t kMaxSettingsFileSize = 16 * 1024 * 1024;

std::string& FolderOverride() {
  static std::string folder;
  return folder;
}

}  // namespace

struct TSettingsFile::TIni {
  CSimpleIniA ini{/*a_bIsUtf8=*/true, /*a_bMultiKey=*/false, /*a_bMultiLine=*/false};
};

void SetSettingsFolder(std::string folder) {
  FolderOverride() = std::move(folder);
}

std::string SettingsFolderOverride() {
  return FolderOverride();
}

TDataFolders WindowDataFolders(const std::string& app_path) {
  const std::string& folder = FolderOverride();
  if (folder.empty()) {
    return DataFoldersFor(app_path);
  }
  return ChooseDataFolders(folder, /*installed=*/false, {});
}

TSettingsFile::TSettingsFile(std::string path)
    : path_(std::move(path)), ini_(std::make_unique<TIni>()) {
  ini_->ini.SetSpaces(false);
}

TSettingsFile::~TSettingsFile() = default;

bool TSettingsFile::Read() {
  ini_->ini.Reset();
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR;
  }
  if (!S_ISREG(info.st_mode) || info.st_size > kMaxSettingsFileSize) {
    return false;
  }
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    return false;
  }
  const std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    return false;
  }
  return Parse(data);
}

bool TSettingsFile::Parse(const std::string& data) {
  ini_->ini.Reset();
  return ini_->ini.LoadData(data) >= 0;
}

std::optional<std::string> TSettingsFile::Text() const {
  std::string data;
  if (ini_->ini.Save(data, /*a_bAddSignature=*/false) < 0) {
    return std::nullopt;
  }
  // A line that began with the UTF-8 signature inside a file is an entry of its own. Set out
  // first, the reader would take those bytes for the file's signature, drop them, and could
  // then read the rest of the line as a section: a line before it keeps the entry as it was.
  constexpr std::string_view kSignature = "\xEF\xBB\xBF";
  if (std::string_view(data).substr(0, kSignature.size()) == kSignature) {
    data = "\n" + data;
  }
  return data;
}

std::string TSettingsFile::Value(const char* section, const char* key,
                                 const std::string& fallback) const {
  const char* value = ini_->ini.GetValue(section, key, nullptr);
  return value != nullptr ? std::string(value) : fallback;
}

std::vector<std::string> TSettingsFile::Keys(const char* section) const {
  CSimpleIniA::TNamesDepend names;
  ini_->ini.GetAllKeys(section, names);
  names.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<std::string> keys;
  keys.reserve(names.size());
  for (const CSimpleIniA::Entry& name : names) {
    keys.emplace_back(name.pItem);
  }
  return keys;
}

void TSettingsFile::SetValue(const char* section, const char* key, const std::string& value) {
  ini_->ini.SetValue(section, key, value.c_str());
}

bool TSettingsFile::Write() const {
  const std::optional<std::string> data = Text();
  if (!data) {
    return false;
  }
  // Written beside the old file and renamed over it, so that a failed write leaves the old
  // settings; a folder that takes no new files still lets a writable file be rewritten.
  QSaveFile file(QFile::decodeName(path_.c_str()));
  file.setDirectWriteFallback(true);
  if (!file.open(QIODevice::WriteOnly)) {
    return false;
  }
  if (file.write(data->data(), static_cast<qint64>(data->size())) !=
      static_cast<qint64>(data->size())) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

}  // namespace updater
