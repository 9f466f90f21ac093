#include "FirmwareBlock.h"

#include <cstring>
#include <string_view>

#include "ScanDecimal.h"
#include "TextFormat.h"

namespace updater {

namespace {

// Image header layout; every number is little-endian.
constexpr size_t kLengthOffset = 0;    // 32 bits: bit 31 build-date flag, bits 0-30 length
constexpr size_t kChecksumOffset = 4;  // 16 bits
constexpr size_t kVersionOffset = 6;   // 16-bit length, then the text
constexpr size_t kFixedHeader = 8;
constexpr uint32_t kHasBuildDate = 0x80000000u;

uint16_t Word16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t Word32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// A header text: its bytes up to the first zero.
std::string_view HeaderText(const uint8_t* at, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(at), size);
  return text.substr(0, text.find('\0'));
}

// The build date of the header, or 0 (with the error line) when its text is no real date.
double ReadBuildDate(std::string_view text, const TLogSink& log) {
  int32_t n[6] = {};
  if (ScanDecimals(text, "%d.%d.%d %d:%d:%d", n) == 6) {
    if (const std::optional<double> date = EncodeBuildDate(n[2], n[1], n[0], n[3], n[4], n[5])) {
      return *date;
    }
  }
  if (log) {
    log(kLogError, 0, "Ошибка декодирования времени компиляции прошивки");
  }
  return 0;
}

}  // namespace

TFirmwareBlockTooLarge::TFirmwareBlockTooLarge()
    : std::runtime_error("Слишком большой размер блока прошивки") {}

TFirmwareBlock::TFirmwareBlock(const uint8_t* data, int32_t size, int32_t address)
    : Address(address), Size(size) {
  if (static_cast<uint32_t>(size) > kMaxFirmwareBlockSize) {
    throw TFirmwareBlockTooLarge();
  }
  Data.assign(data, data + size);
}

void FreeBlocks(TFirmwareBlockList& blocks) {
  for (std::unique_ptr<TFirmwareBlock>& block : blocks) {
    block.reset();
  }
  blocks.clear();
}

bool ParseFirmwareImage(uint8_t* image, size_t length, TFirmwareVersion& version,
                        TFirmwareBlockList& blocks, const TLogSink& log) {
  auto error = [&log](const char* text) {
    if (log) {
      log(kLogError, 0, text);
    }
  };

  // Anything shorter than the fixed header cannot even say its own length and version.
  if (length < kFixedHeader) {
    error(kWrongImageSizeText);
    return false;
  }
  const uint32_t word = Word32(image + kLengthOffset);
  const bool has_build_date = (word & kHasBuildDate) != 0;
  if ((word & ~kHasBuildDate) != length) {
    error(kWrongImageSizeText);
    return false;
  }

  // Stored images sum only the first length mod 65536 bytes; the truncation is deliberate.
  const uint16_t stored = Word16(image + kChecksumOffset);
  image[kChecksumOffset] = 0;
  image[kChecksumOffset + 1] = 0;
  if (Checksum16(image, static_cast<uint16_t>(length)) != stored) {
    error("Ошибка контрольной суммы файла прошивки");
    return false;
  }

  // The lengths inside the header come from the file: each must stay within the image before
  // anything is read through it or the version is touched.
  const size_t version_size = Word16(image + kVersionOffset);
  size_t header = kFixedHeader + version_size;
  bool fits = header <= length;
  size_t date_offset = 0;
  size_t date_size = 0;
  if (fits && has_build_date) {
    date_offset = header + 2;
    fits = date_offset <= length;
    if (fits) {
      date_size = Word16(image + header);
      header = date_offset + date_size;
      fits = header <= length;
    }
  }
  if (!fits) {
    error("Не верный заголовок файла прошивки");
    return false;
  }

  if (!version.Parse(Cp1251ToUtf8(HeaderText(image + kFixedHeader, version_size)))) {
    return false;
  }
  version.BuildDate =
      has_build_date ? ReadBuildDate(HeaderText(image + date_offset, date_size), log) : 0;

  blocks.push_back(
      std::make_unique<TFirmwareBlock>(image + header, static_cast<int32_t>(length - header), -1));
  return true;
}

}  // namespace updater
