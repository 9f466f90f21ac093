#include "DataFolders.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace updater {

namespace {

std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = AbsoluteEnv("HOME");
  if (!home.empty()) {
    return home;
  }
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    home = found->pw_dir;
  }
  return home;
}

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') {
    folder += '/';
  }
  return folder;
}

}  // namespace

TUserFolders TUserFolders::FromEnvironment() {
  TUserFolders user{AbsoluteEnv("XDG_CONFIG_HOME"), AbsoluteEnv("XDG_STATE_HOME")};
  if (user.config_home.empty() || user.state_home.empty()) {
    const std::string home = HomeFolder();
    if (!home.empty()) {
      if (user.config_home.empty()) {
        user.config_home = home + "/.config";
      }
      if (user.state_home.empty()) {
        user.state_home = home + "/.local/state";
      }
    }
  }
  return user;
}

bool IsInstalledCopy(const std::string& program_folder) {
  std::error_code ignored;
  if (std::filesystem::exists(program_folder + kInstalledMarkerName, ignored)) {
    return true;
  }
  return ::faccessat(AT_FDCWD, program_folder.c_str(), W_OK, AT_EACCESS) != 0;
}

TDataFolders ChooseDataFolders(const std::string& program_folder, bool installed,
                               const TUserFolders& user) {
  if (!installed) {
    const std::string folder = WithSlash(program_folder);
    return {folder, folder + "Logs/"};
  }
  TDataFolders folders;
  if (!user.config_home.empty()) {
    folders.settings = WithSlash(user.config_home) + kUserFolderName + '/';
  }
  if (!user.state_home.empty()) {
    folders.logs = WithSlash(user.state_home) + kUserFolderName + "/Logs/";
  }
  return folders;
}

TDataFolders DataFoldersFor(const std::string& program_folder) {
  return ChooseDataFolders(program_folder, IsInstalledCopy(program_folder),
                           TUserFolders::FromEnvironment());
}

bool MakeFolder(const std::string& folder, std::string& reason) {
  if (folder.empty()) {
    reason = "нет домашней папки пользователя";
    return false;
  }
  std::filesystem::path path(folder);
  if (!path.has_filename()) {
    path = path.parent_path();  // "a/Logs/" names the folder "a/Logs"
  }
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (std::filesystem::is_directory(path, error)) {
    return true;
  }
  // Walk up to the first name that exists: a file there is the plainest reason to give.
  for (std::filesystem::path part = path; !part.empty() && part != part.root_path();
       part = part.parent_path()) {
    std::error_code ignored;
    const auto status = std::filesystem::symlink_status(part, ignored);
    if (std::filesystem::exists(status)) {
      if (!std::filesystem::is_directory(std::filesystem::status(part, ignored))) {
        reason = "имя " + part.string() + " занято файлом";
        return false;
      }
      break;
    }
  }
  reason = error ? error.message() : "папка не создана";
  return false;
}

}  // namespace updater
