// Writes the firmware image that the program carries as its resource ":/FRMV": the header
// (length word with the build-date flag, checksum, version and date texts) and 128 KiB of
// device data. The data is laid out like a tracker firmware so that a write job both writes
// sectors and skips erased ones on every sector map: code, erased 4 KiB holes, read-only
// tables, a 40 KiB erased stretch that covers a whole 32 KiB sector wherever the image is
// placed (0x4000, 0x4400 or 0xA000), then more tables. Deterministic: the same bytes on every
// build.
//
// Usage: make_embedded_image <output file>

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "FirmwareVersion.h"

namespace {

constexpr std::string_view kVersion = "ROZI-1.16";
constexpr std::string_view kDate = "07.11.2013 16:25:19";
constexpr size_t kPayloadSize = 128 * 1024;
constexpr uint16_t kExpectedChecksum = 0x7D3B;

// Regions of the payload (offsets from its start).
constexpr size_t kCodeEnd = 0xA000;    // vector table and code
constexpr size_t kHoleStart = 0x3000;  // one erased 4 KiB sector inside the code
constexpr size_t kHoleEnd = 0x4000;
constexpr size_t kTablesEnd = 0xC000;     // strings and tables behind the code
constexpr size_t kErasedEnd = 0x16000;    // 40 KiB erased
constexpr size_t kSettingsEnd = 0x1F000;  // settings tables; the last 4 KiB stay erased

// xorshift32: a fixed seed gives the same "code" on every build.
class TRandom {
 public:
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

 private:
  uint32_t state_ = 0x1D2C3B4A;
};

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  out[at] = static_cast<uint8_t>(value);
  out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  Put16(out, at, value & 0xFFFF);
  Put16(out, at + 2, value >> 16);
}

// Cortex-M style vector table: stack top, reset handler, then the exception and interrupt
// handlers, all in the image's own flash range.
void WriteVectors(std::vector<uint8_t>& payload) {
  Put32(payload, 0, 0x20004000);
  Put32(payload, 4, 0x00004101);
  for (size_t n = 2; n < 64; ++n) {
    const bool reserved = n >= 7 && n <= 10;
    Put32(payload, n * 4, reserved ? 0 : 0x000041A9 + static_cast<uint32_t>(n % 5) * 0x10);
  }
}

// Thumb-like functions: push, a body of common instruction shapes, pop, padding with nops.
void WriteCode(std::vector<uint8_t>& payload, size_t from, size_t to, TRandom& random) {
  static constexpr uint16_t kShapes[] = {0x2000, 0x6800, 0x6000, 0x1800, 0x4280,
                                         0xD000, 0x4600, 0x3000, 0x7800, 0x7000};
  size_t at = from;
  while (at + 8 <= to) {
    Put16(payload, at, 0xB5F0);  // push {r4-r7, lr}
    at += 2;
    const size_t body = 8 + random.Next() % 120;
    for (size_t i = 0; i < body && at + 6 <= to; ++i) {
      const uint32_t r = random.Next();
      if (r % 11 == 0) {  // bl: a 32-bit call
        Put16(payload, at, 0xF000 | (r >> 8 & 0x7FF));
        Put16(payload, at + 2, 0xF800 | (r >> 20 & 0x7FF));
        at += 4;
        continue;
      }
      Put16(payload, at, kShapes[r % std::size(kShapes)] | (r >> 16 & 0xFF));
      at += 2;
    }
    Put16(payload, at, 0xBDF0);  // pop {r4-r7, pc}
    at += 2;
    while (at % 4 != 0 && at + 2 <= to) {
      Put16(payload, at, 0xBF00);  // nop
      at += 2;
    }
  }
}

// Zero-terminated strings the firmware answers with, then a CRC-16 table, then zeros.
void WriteTables(std::vector<uint8_t>& payload, size_t from, size_t to) {
  static constexpr std::string_view kStrings[] = {
      kVersion,  kDate,         "FL_READ_VERSION$", "START_BOOT_LOADER",
      "STARTED", "START ERROR", "AT+CGATT=1\r",     "AT+CSQ\r",
      "$GPRMC",  "$GPGGA",      "VELTORIUM",        "ROZI"};
  size_t at = from;
  for (const std::string_view text : kStrings) {
    for (const char c : text) {
      payload[at++] = static_cast<uint8_t>(c);
    }
    payload[at++] = 0;
  }
  while (at % 4 != 0) {
    payload[at++] = 0;
  }
  for (uint32_t n = 0; n < 256 && at + 2 <= to; ++n, at += 2) {
    uint32_t crc = n << 8;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1;
    }
    Put16(payload, at, crc & 0xFFFF);
  }
  std::fill(payload.begin() + static_cast<std::ptrdiff_t>(at),
            payload.begin() + static_cast<std::ptrdiff_t>(to), 0);
}

// Settings records: an identifier, a length and bytes, one after the other, some of them
// unset (0xFF) as a device leaves them.
void WriteSettings(std::vector<uint8_t>& payload, size_t from, size_t to, TRandom& random) {
  for (size_t at = from; at + 16 <= to; at += 16) {
    const uint32_t r = random.Next();
    Put16(payload, at, static_cast<uint32_t>((at - from) / 16));
    Put16(payload, at + 2, 12);
    for (size_t i = 4; i < 16; ++i) {
      payload[at + i] = r % 7 == 0 ? 0xFF : static_cast<uint8_t>(random.Next());
    }
  }
}

std::vector<uint8_t> MakeImage() {
  std::vector<uint8_t> payload(kPayloadSize, 0xFF);
  TRandom random;
  WriteVectors(payload);
  WriteCode(payload, 0x100, kHoleStart, random);
  WriteCode(payload, kHoleEnd, kCodeEnd, random);
  WriteTables(payload, kCodeEnd, kTablesEnd);
  WriteSettings(payload, kErasedEnd, kSettingsEnd, random);

  std::vector<uint8_t> image(8);
  Put16(image, 6, kVersion.size());
  image.insert(image.end(), kVersion.begin(), kVersion.end());
  image.resize(image.size() + 2);
  Put16(image, image.size() - 2, kDate.size());
  image.insert(image.end(), kDate.begin(), kDate.end());
  image.insert(image.end(), payload.begin(), payload.end());
  Put32(image, 0, static_cast<uint32_t>(image.size()) | 0x80000000u);
  // Like every stored image, the sum covers only the first size mod 65536 bytes.
  Put16(image, 4, updater::Checksum16(image.data(), static_cast<uint16_t>(image.size())));
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output file>\n", argv[0]);
    return 2;
  }
  const std::vector<uint8_t> image = MakeImage();
  const uint16_t checksum = static_cast<uint16_t>(image[4] | image[5] << 8);
  if (image.size() != 131110 || checksum != kExpectedChecksum) {
    std::fprintf(stderr, "unexpected image: %zu bytes, checksum %04X\n", image.size(), checksum);
    return 1;
  }
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
  if (std::fclose(file) != 0 || !written) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
