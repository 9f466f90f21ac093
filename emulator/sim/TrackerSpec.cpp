#include "TrackerSpec.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace updater::sim {

const char* const kTrackerSpecHelp =
    "SPEC is a comma list of KEY=VALUE items (no blanks around them):\n"
    "  serial=DIGITS          required, 1 to 40 decimal digits, unique\n"
    "  driver=ql|ftdi         driver kind (default ql, the maker's)\n"
    "  desc=TEXT              FTDI description (default Veltorium)\n"
    "  mode=boot|firmware     mode at start (default boot)\n"
    "  fw=TEXT                firmware version text (default ROZI-1.15)\n"
    "  boot=TEXT              boot-loader version text (default BOOT-1.05)\n"
    "  cpu=NUMBER             processor identifier, 0x... or decimal (default 0x26013F37)\n"
    "  preload=FILE           initial flash contents from address 0 (default all 0xFF)\n"
    "  protect=S[:S...]       erase and write of these sectors answer 131, not performed\n"
    "  protect-erase=S[:S...] only erases answer 131\n"
    "  protect-write=S[:S...] only writes answer 131\n"
    "  locked                 every erase answers 138\n"
    "  refuse=N:CODE          request N answers CODE, not performed\n"
    "  drop=N                 request N performed, no reply\n"
    "  truncate=N:K           request N performed, reply cut to K bytes\n"
    "  wrong-sector=N         reply to request N echoes sector+1\n"
    "  wrong-address=N        reply to request N echoes address+512\n"
    "  duplicate=N            reply to request N sent twice\n"
    "  delay=MS               every reply sent MS milliseconds late\n"
    "  pace=MS                at most one request answered every MS milliseconds; one that\n"
    "                         comes later than that is answered at once\n"
    "  vanish=N               after replying to request N the tracker disappears\n"
    "  start=ok|error|lower|garbage|silent   answer to START_BOOT_LOADER (default ok)\n"
    "  version=full|short|silent             answer to FL_READ_VERSION$ (default full)\n"
    "Requests N count boot-loader frames from 1; refuse, drop, truncate, wrong-sector,\n"
    "wrong-address and duplicate may be given several times.\n";

namespace {

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, sep)) {
    parts.push_back(part);
  }
  if (!text.empty() && text.back() == sep) {
    parts.emplace_back();
  }
  return parts;
}

bool ReadNumber(const std::string& text, unsigned long long max, unsigned long long& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  value = std::strtoull(text.c_str(), &end, 0);
  return errno == 0 && end != nullptr && *end == '\0' && value <= max;
}

bool ReadInt(const std::string& text, int min, int max, int& value) {
  unsigned long long v = 0;
  if (!ReadNumber(text, static_cast<unsigned long long>(max), v) ||
      v < static_cast<unsigned long long>(min)) {
    return false;
  }
  value = static_cast<int>(v);
  return true;
}

bool ReadPair(const std::string& text, int maxSecond, int& first, int& second) {
  std::vector<std::string> p = Split(text, ':');
  return p.size() == 2 && ReadInt(p[0], 1, 1000000000, first) &&
         ReadInt(p[1], 0, maxSecond, second);
}

bool ReadSectors(const std::string& text, std::set<int>& sectors) {
  for (const std::string& s : Split(text, ':')) {
    int v = 0;
    if (!ReadInt(s, 0, 65535, v)) {
      return false;
    }
    sectors.insert(v);
  }
  return !text.empty();
}

bool IsDigits(const std::string& s) {
  if (s.empty() || s.size() > 40) {
    return false;
  }
  for (char c : s) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

bool ApplyItem(const std::string& key, const std::string& value, bool hasValue, TrackerConfig& c) {
  TrackerFaults& f = c.faults;
  int a = 0;
  int b = 0;
  if (key == "locked") {
    f.locked = true;
    return !hasValue;
  }
  if (!hasValue) {
    return false;
  }
  if (key == "serial") {
    c.serial = value;
    return IsDigits(value);
  }
  if (key == "driver") {
    c.driver = value == "ftdi" ? DriverKind::Ftdi : DriverKind::Maker;
    return value == "ftdi" || value == "ql";
  }
  if (key == "desc") {
    c.description = value;
    return !value.empty() && value.size() < 64;
  }
  if (key == "mode") {
    c.mode = value == "firmware" ? TrackerMode::Firmware : TrackerMode::BootLoader;
    return value == "firmware" || value == "boot";
  }
  if (key == "fw" || key == "boot") {
    (key == "fw" ? c.firmwareVersion : c.bootVersion) = value;
    return value.size() < 1000;
  }
  if (key == "cpu") {
    unsigned long long v = 0;
    if (!ReadNumber(value, 0xFFFFFFFFull, v)) {
      return false;
    }
    c.processorId = static_cast<uint32_t>(v);
    return true;
  }
  if (key == "preload") {
    std::ifstream in(value, std::ios::binary);
    c.preload.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return static_cast<bool>(in) || in.eof();
  }
  if (key == "protect") {
    return ReadSectors(value, f.protectErase) && ReadSectors(value, f.protectWrite);
  }
  if (key == "protect-erase") {
    return ReadSectors(value, f.protectErase);
  }
  if (key == "protect-write") {
    return ReadSectors(value, f.protectWrite);
  }
  if (key == "refuse") {
    if (!ReadPair(value, 65535, a, b)) {
      return false;
    }
    f.refuseAt[a] = static_cast<uint16_t>(b);
    return true;
  }
  if (key == "truncate") {
    if (!ReadPair(value, 100000, a, b)) {
      return false;
    }
    f.truncateAt[a] = static_cast<size_t>(b);
    return true;
  }
  if (key == "drop" || key == "wrong-sector" || key == "wrong-address" || key == "duplicate") {
    if (!ReadInt(value, 1, 1000000000, a)) {
      return false;
    }
    (key == "drop"            ? f.dropAt
     : key == "wrong-sector"  ? f.wrongSectorAt
     : key == "wrong-address" ? f.wrongAddressAt
                              : f.duplicateAt)
        .insert(a);
    return true;
  }
  if (key == "delay") {
    return ReadInt(value, 0, 600000, f.delayMs);
  }
  if (key == "pace") {
    return ReadInt(value, 0, 600000, f.paceMs);
  }
  if (key == "vanish") {
    return ReadInt(value, 1, 1000000000, f.vanishAfter);
  }
  if (key == "start") {
    static const std::pair<const char*, StartReply> kStarts[] = {{"ok", StartReply::Started},
                                                                 {"error", StartReply::Error},
                                                                 {"lower", StartReply::LowerCase},
                                                                 {"garbage", StartReply::Garbage},
                                                                 {"silent", StartReply::Silent}};
    for (const auto& [name, reply] : kStarts) {
      if (value == name) {
        f.start = reply;
        return true;
      }
    }
    return false;
  }
  if (key == "version") {
    static const std::pair<const char*, VersionReply> kVersions[] = {
        {"full", VersionReply::Full},
        {"short", VersionReply::Short},
        {"silent", VersionReply::Silent}};
    for (const auto& [name, reply] : kVersions) {
      if (value == name) {
        f.version = reply;
        return true;
      }
    }
    return false;
  }
  return false;
}

}  // namespace

bool ParseTrackerSpec(const std::string& tracker_text, TrackerConfig& config, std::string& error) {
  TrackerConfig c;
  for (const std::string& item : Split(tracker_text, ',')) {
    const size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    if (!ApplyItem(key, value, eq != std::string::npos, c)) {
      error = "bad tracker item \"" + item + "\" in \"" + tracker_text + "\"";
      return false;
    }
  }
  if (c.serial.empty()) {
    error = "tracker \"" + tracker_text + "\" has no serial=";
    return false;
  }
  config = std::move(c);
  return true;
}

}  // namespace updater::sim
