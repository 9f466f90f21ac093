#include "SimDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace d2xxsim {

namespace {

constexpr std::string_view kDescSuffix = ".desc";

// The description file, at most one field's worth; a trailing newline is not part of it.
bool ReadDescription(int dir_fd, const std::string& name, std::string& text) {
  const int fd = ::openat(dir_fd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    return false;
  }
  struct stat info {};
  char buffer[kDescriptionField] = {};
  ssize_t n = -1;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    n = ::read(fd, buffer, sizeof buffer - 1);
  }
  ::close(fd);
  if (n < 0) {
    return false;
  }
  text.assign(buffer, static_cast<size_t>(n));
  text = text.substr(0, text.find('\0'));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  return true;
}

// A location that stays with the device as a real one stays with its USB port, whatever else
// is plugged in around it (FNV-1a of the entry name, never 0).
uint32_t LocationOf(std::string_view name) {
  uint32_t hash = 2166136261u;
  for (const char c : name) {
    hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
  }
  return hash == 0 ? 1 : hash;
}

}  // namespace

std::string SimDirectory() {
  const char* dir = std::getenv("FTD2XX_SIM_DIR");
  return dir != nullptr && *dir != '\0' ? std::string(dir) : std::string("/tmp/ftd2xx-sim");
}

std::vector<TSimDevice> ListSimDevices(const std::string& dir) {
  std::vector<TSimDevice> devices;
  std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(dir.c_str()), &::closedir);
  if (!stream) {
    return devices;
  }
  const int dir_fd = ::dirfd(stream.get());
  while (const dirent* entry = ::readdir(stream.get())) {
    const std::string name = entry->d_name;
    if (name.empty() || name[0] == '.' || name.size() >= kSerialField ||
        (name.size() >= kDescSuffix.size() &&
         name.compare(name.size() - kDescSuffix.size(), kDescSuffix.size(), kDescSuffix) == 0)) {
      continue;
    }
    struct stat target {};
    if (::fstatat(dir_fd, name.c_str(), &target, 0) != 0 || !S_ISSOCK(target.st_mode)) {
      continue;
    }
    TSimDevice device{name, "", dir + "/" + name, false, LocationOf(name)};
    device.HeldByOther =
        !ReadDescription(dir_fd, name + std::string(kDescSuffix), device.Description);
    devices.push_back(std::move(device));
  }
  std::sort(devices.begin(), devices.end(),
            [](const TSimDevice& a, const TSimDevice& b) { return a.Serial < b.Serial; });
  return devices;
}

}  // namespace d2xxsim
