#include "FirmwareVersion.h"

#include <langinfo.h>

#include <chrono>
#include <cmath>

#include "ScanDecimal.h"
#include "TextFormat.h"

namespace updater {

namespace {

using std::chrono::day;
using std::chrono::days;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

constexpr sys_days kDateZero = year{1899} / 12 / 30;
constexpr double kFirstDay = static_cast<double>((sys_days{year{1} / 1 / 1} - kDateZero).count());
constexpr double kLastDay =
    static_cast<double>((sys_days{year{9999} / 12 / 31} - kDateZero).count());
constexpr int64_t kMsPerDay = 86400000;

bool IsVersionDigit(char c) {
  return (c >= '0' && c <= '9') || c == '.';
}

// Blanks and control characters: every byte up to the space. UTF-8 continuation bytes are
// above it, so trimming never splits a character.
bool IsTrimmed(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsTrimmed(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsTrimmed(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

void TFirmwareVersion::Clear() {
  Family.clear();
  Suffix.clear();
  BuildDate = 0;
  Number = 0;
}

bool TFirmwareVersion::Parse(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  if (text == "Unknown") {
    Family = "unk";
    Number = 1;
    return true;
  }
  const size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    Family.clear();
    return false;
  }
  Family.assign(text.substr(0, dash));
  if (Family.empty()) {
    return false;
  }
  std::string_view rest = text.substr(dash + 1);
  int32_t numbers[2] = {};
  if (ScanDecimals(rest, "%d.%d", numbers) < 2) {
    return false;
  }
  Number = static_cast<uint16_t>(static_cast<uint32_t>(numbers[0]) * 100u +
                                 static_cast<uint32_t>(numbers[1]));
  while (!rest.empty() && IsVersionDigit(rest.front())) {
    rest.remove_prefix(1);
  }
  Suffix.assign(Trim(rest));
  return true;
}

std::string TFirmwareVersion::VersionText() const {
  if (Family == "unk") {
    return "Empty";
  }
  if (Number == 0) {
    return "?????";
  }
  return Family + '-' + std::to_string(Number / 100) + '.' + std::to_string(Number % 100) + Suffix;
}

std::string TFirmwareVersion::BuildDateText() const {
  const double whole = std::trunc(BuildDate);
  // Only the image loader sets BuildDate, always to a real date; anything else counts as none.
  if (!std::isfinite(BuildDate) || whole == 0 || whole < kFirstDay || whole > kLastDay) {
    return "неизвестна";
  }
  const year_month_day date{kDateZero + days{static_cast<int32_t>(whole)}};
  int64_t ms = std::llround(std::fabs(BuildDate - whole) * static_cast<double>(kMsPerDay));
  if (ms >= kMsPerDay) {
    ms = kMsPerDay - 1;
  }
  const int64_t seconds = ms / 1000;
  const std::string separator = TimeSeparator();
  return Format("%02u-%02u-%04d %02d%s%02d%s%02d", static_cast<unsigned>(date.day()),
                static_cast<unsigned>(date.month()), static_cast<int>(date.year()),
                static_cast<int>(seconds / 3600), separator.c_str(),
                static_cast<int>(seconds / 60 % 60), separator.c_str(),
                static_cast<int>(seconds % 60));
}

std::optional<double> EncodeBuildDate(int32_t year_number, int32_t month_number, int32_t day_number,
                                      int32_t hour, int32_t minute, int32_t second) {
  if (year_number < 1 || year_number > 9999 || month_number < 1 || month_number > 12 ||
      day_number < 1 || day_number > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59) {
    return std::nullopt;
  }
  const year_month_day date{year{year_number}, month{static_cast<unsigned>(month_number)},
                            day{static_cast<unsigned>(day_number)}};
  if (!date.ok()) {
    return std::nullopt;
  }
  const double whole = static_cast<double>((sys_days{date} - kDateZero).count());
  const double time = static_cast<double>(hour * 3600 + minute * 60 + second) / 86400.0;
  return whole >= 0 ? whole + time : whole - time;
}

std::string TimeSeparatorOf(std::string_view format) {
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      continue;
    }
    // Skip the flags and modifiers glibc allows between '%' and the conversion.
    size_t c = i + 1;
    while (c < format.size() &&
           std::string_view("_-0^#EO").find(format[c]) != std::string_view::npos) {
      ++c;
    }
    if (c >= format.size()) {
      break;
    }
    const char conversion = format[c];
    if (conversion == 'T' || conversion == 'R' || conversion == 'r') {
      return ":";
    }
    if (conversion == 'H' || conversion == 'I' || conversion == 'k' || conversion == 'l') {
      const size_t end = format.find('%', c + 1);
      const std::string_view between = format.substr(c + 1, end - (c + 1));
      return between.empty() ? ":" : std::string(between);
    }
    i = c;  // "%%" and every other conversion
  }
  return ":";
}

std::string TimeSeparator() {
  return TimeSeparatorOf(nl_langinfo(T_FMT));
}

uint16_t Checksum16(const void* data, uint16_t length) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint32_t sum = 0;
  auto add = [&sum](uint32_t value) {
    sum += value;
    if (sum > 0xFFFF) {
      sum = (sum & 0xFFFF) + 1;
    }
  };
  size_t n = length;
  while (n >= 2) {
    add(static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8);
    bytes += 2;
    n -= 2;
  }
  if (n == 1) {
    add(bytes[0]);
  }
  return static_cast<uint16_t>(sum);
}

}  // namespace updater
