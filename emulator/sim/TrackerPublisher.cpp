#include "TrackerPublisher.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace updater::sim {

namespace fs = std::filesystem;

namespace {

std::string EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : fallback;
}

// Hidden, so that a library listing the directory at that moment never takes it for a device.
// Built by appending: g++ 12 at -O3 takes a prepend to a temporary string for an overlapping
// copy (a false -Wrestrict).
fs::path TempName(const fs::path& target) {
  std::string name = ".";
  name += target.filename().string();
  name += ".tmp";
  name += std::to_string(getpid());
  return target.parent_path() / name;
}

bool ReplaceWithLink(const fs::path& link, const std::string& target, std::string& error) {
  const fs::path temp = TempName(link);
  std::error_code ec;
  fs::remove(temp, ec);
  fs::create_symlink(target, temp, ec);
  if (!ec) {
    fs::rename(temp, link, ec);
  }
  if (ec) {
    fs::remove(temp, ec);
    error = "cannot create " + link.string() + ": " + ec.message();
    return false;
  }
  return true;
}

bool ReplaceWithFile(const fs::path& file, const std::string& content, std::string& error) {
  const fs::path temp = TempName(file);
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
      error = "cannot write " + temp.string();
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, file, ec);
  if (ec) {
    fs::remove(temp, ec);
    error = "cannot create " + file.string() + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace

PublishDirs DefaultPublishDirs() {
  return {EnvOr("ZIZUZ_DEVICE_DIR", "/dev/serial/by-id"),
          EnvOr("FTD2XX_SIM_DIR", "/tmp/ftd2xx-sim")};
}

std::string EntryPath(const PublishDirs& dirs, const TrackerConfig& config) {
  if (config.driver == DriverKind::Ftdi) {
    return (fs::path(dirs.ftdiDir) / config.serial).string();
  }
  return (fs::path(dirs.zizuzDir) / ("usb-Veltorium_Tracker_" + config.serial + "-if00")).string();
}

bool Publish(const PublishDirs& dirs, const TrackerConfig& config, const std::string& devicePath,
             std::string& error) {
  const fs::path link = EntryPath(dirs, config);
  std::error_code ec;
  fs::create_directories(link.parent_path(), ec);
  if (ec) {
    error = "cannot create " + link.parent_path().string() + ": " + ec.message();
    return false;
  }
  if (config.driver == DriverKind::Ftdi) {
    // The description must be readable before the socket makes the device visible.
    fs::path desc = link;
    desc += ".desc";
    if (!ReplaceWithFile(desc, config.description, error)) {
      return false;
    }
    fs::rename(devicePath, link, ec);
    if (ec) {
      error = "cannot create " + link.string() + ": " + ec.message();
      return false;
    }
    return true;
  }
  return ReplaceWithLink(link, devicePath, error);
}

void Withdraw(const PublishDirs& dirs, const TrackerConfig& config) {
  const fs::path link = EntryPath(dirs, config);
  std::error_code ec;
  fs::remove(link, ec);
  if (config.driver == DriverKind::Ftdi) {
    fs::path desc = link;
    desc += ".desc";
    fs::remove(desc, ec);
  }
}

}  // namespace updater::sim
