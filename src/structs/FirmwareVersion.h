#pragma once
// The one record of a firmware or boot-loader version, and the system's one checksum.
// Texts are UTF-8 inside the program; bytes from devices are decoded before Parse.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace updater {

class TFirmwareVersion {
 public:
  std::string Family;
  std::string Suffix;
  double BuildDate = 0;  // days since 30 December 1899, time of day as the fraction; 0: none
  uint16_t Number = 0;   // major * 100 + minor, modulo 65536; 0: no version read

  void Clear();
  // The text ends at its first zero byte. True when a version was read.
  bool Parse(std::string_view text);
  std::string VersionText() const;
  // "DD-MM-YYYY HH:NN:SS" with the user's time separator (TimeSeparator), or "неизвестна".
  std::string BuildDateText() const;
};

// The BuildDate value of a date and time, or nothing when the six numbers are no real date
// (year 1 to 9999, leap years counted, hour 0 to 23, minute and second 0 to 59). Dates before
// 30 December 1899 are negative with the time of day counted away from zero.
std::optional<double> EncodeBuildDate(int32_t year, int32_t month, int32_t day, int32_t hour,
                                      int32_t minute, int32_t second);

// The separator between hours, minutes and seconds in a strftime-style time format (the
// LC_TIME "T_FMT" of a locale); a colon when the format does not show one.
std::string TimeSeparatorOf(std::string_view time_format);
// The separator of the process's current LC_TIME locale. The program leaves LC_TIME as
// QCoreApplication sets it (the user's environment), so this is the user's regional choice;
// under the plain C locale it is a colon.
std::string TimeSeparator();

// 16-bit sum of little-endian words with end-around carry, not complemented. A caller with a
// longer length passes its low 16 bits and the sum covers only that many bytes.
uint16_t Checksum16(const void* data, uint16_t length);

}  // namespace updater
