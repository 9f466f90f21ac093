#pragma once
// The one record of a firmware or boot-loader version, and the system's one checksum.
// Texts are UTF-8 inside the program; bytes from devices are decoded before Parse.

#include <cstddef>
#include <cstdint>
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
  std::string BuildDateText() const;
};

// 16-bit sum of little-endian words with end-around carry, not complemented. A caller with a
// longer length passes its low 16 bits and the sum covers only that many bytes.
uint16_t Checksum16(const void* data, uint16_t length);

}  // namespace updater
