#include "DeviceDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

namespace zizuz {

namespace {

constexpr std::string_view kPrefix = "usb-Veltorium_";
constexpr std::string_view kInterfaceMark = "-if";

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

std::string_view WithoutLeadingZeros(std::string_view digits) {
  const size_t first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view("0") : digits.substr(first);
}

// Character-device majors of tty drivers, from /proc/devices ("pts", "ttyS", "ttyACM",
// "ttyUSB", ...). Telling a tty from other character devices this way needs no open(), which
// would toggle the modem lines of every port on every scan. Empty when the table is unreadable;
// the tty check at open then decides alone.
std::optional<std::set<unsigned>> TtyMajors() {
  std::ifstream table("/proc/devices");
  if (!table) {
    return std::nullopt;
  }
  std::set<unsigned> majors;
  std::string line;
  bool in_char_section = false;
  while (std::getline(table, line)) {
    if (line.rfind("Character devices:", 0) == 0) {
      in_char_section = true;
      continue;
    }
    if (line.rfind("Block devices:", 0) == 0) {
      break;
    }
    unsigned major = 0;
    std::string driver;
    std::istringstream fields(line);
    if (in_char_section && (fields >> major >> driver) &&
        (driver == "pts" || driver.rfind("tty", 0) == 0)) {
      majors.insert(major);
    }
  }
  return majors;
}

}  // namespace

std::optional<TDeviceName> ParseDeviceName(std::string_view name) {
  // prefix + model (>= 1) + '_' + serial (>= 1) + "-if" + NN
  if (name.size() < kPrefix.size() + 4 + kInterfaceMark.size() + 2 ||
      name.substr(0, kPrefix.size()) != kPrefix) {
    return std::nullopt;
  }
  const std::string_view tail = name.substr(name.size() - kInterfaceMark.size() - 2);
  const int high = HexValue(tail[3]);
  const int low = HexValue(tail[4]);
  if (tail.substr(0, kInterfaceMark.size()) != kInterfaceMark || high < 0 || low < 0) {
    return std::nullopt;
  }
  const std::string_view middle =
      name.substr(kPrefix.size(), name.size() - kPrefix.size() - tail.size());
  const size_t split = middle.rfind('_');
  if (split == std::string_view::npos || split == 0) {
    return std::nullopt;
  }
  const std::string_view serial = middle.substr(split + 1);
  if (!AllDigits(serial) || serial.size() > kMaxSerialDigits) {
    return std::nullopt;
  }
  return TDeviceName{std::string(serial), static_cast<uint16_t>(high * 16 + low)};
}

bool SameSerial(std::string_view a, std::string_view b) {
  return AllDigits(a) && AllDigits(b) && WithoutLeadingZeros(a) == WithoutLeadingZeros(b);
}

std::string DeviceDirectory() {
  const char* dir = std::getenv("ZIZUZ_DEVICE_DIR");
  return dir != nullptr && *dir != '\0' ? std::string(dir) : std::string("/dev/serial/by-id");
}

std::vector<TListedDevice> ListDevices(const std::string& dir) {
  std::vector<TListedDevice> devices;
  std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(dir.c_str()), &::closedir);
  if (!stream) {
    return devices;
  }
  const auto tty_majors = TtyMajors();
  const int dir_fd = ::dirfd(stream.get());
  while (const dirent* entry = ::readdir(stream.get())) {
    const auto name = ParseDeviceName(entry->d_name);
    if (!name) {
      continue;
    }
    struct stat target {};
    // Follows the link: a dangling link or a loop fails here and is skipped.
    if (::fstatat(dir_fd, entry->d_name, &target, 0) != 0 || !S_ISCHR(target.st_mode)) {
      continue;
    }
    if (tty_majors && tty_majors->count(major(target.st_rdev)) == 0) {
      continue;
    }
    devices.push_back({dir + "/" + entry->d_name, *name});
  }
  std::sort(devices.begin(), devices.end(),
            [](const TListedDevice& a, const TListedDevice& b) { return a.Path < b.Path; });
  return devices;
}

}  // namespace zizuz
