#pragma once
// A firmware image's payload as the write job takes it, and the check that turns an image
// file's bytes into a version record and a block.
//
// Threads: the check runs on the main thread (it logs); a block list belongs to whoever holds
// it, and a write job holds its own.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "FirmwareVersion.h"
#include "LogSink.h"

namespace updater {

// The image check's message for an image whose length word is not its length; the file loader
// gives it too, for a file too large to be read.
inline constexpr char kWrongImageSizeText[] = "Не верный размер файла прошивки";

// The largest payload a block may hold (2 MiB).
inline constexpr uint32_t kMaxFirmwareBlockSize = 2 * 1024 * 1024;
// The largest image that can pass every check: the fixed header fields, the longest version
// and date texts their 16-bit lengths allow, and the largest payload. A loader never needs to
// read more of a file than this.
inline constexpr size_t kMaxFirmwareImageSize =
    4 + 2 + 2 + 0xFFFF + 2 + 0xFFFF + size_t{kMaxFirmwareBlockSize};

// The one error the image code raises: a payload above kMaxFirmwareBlockSize.
class TFirmwareBlockTooLarge : public std::runtime_error {
 public:
  TFirmwareBlockTooLarge();
};

class TFirmwareBlock {
 public:
  // Copies size bytes from data. Throws TFirmwareBlockTooLarge when size, read as an unsigned
  // number (so a negative size too), exceeds kMaxFirmwareBlockSize.
  TFirmwareBlock(const uint8_t* data, int32_t size, int32_t address);

  int32_t Address;  // offset in the device's image area; negative: at the first written sector
  int32_t Size;     // bytes in Data
  std::vector<uint8_t> Data;
};

// Whoever holds a list owns its blocks.
using TFirmwareBlockList = std::vector<std::unique_ptr<TFirmwareBlock>>;

// Destroys the blocks from the first to the last and leaves the list empty.
void FreeBlocks(TFirmwareBlockList& blocks);

// Checks an image held in memory, in this order: its length word against length, its
// checksum, its version text, its build date; then appends its payload to blocks as one block
// with address -1. Failures of the length, the checksum or the header layout are logged (kind
// kLogError, serial 0) and leave version and blocks untouched; an unreadable version text
// returns false without a line (Family may already be replaced); a build-date text that is no
// real date is logged and the image still loads with BuildDate 0. Never reads beyond length
// bytes. The checksum field of image is set to zero. A payload above kMaxFirmwareBlockSize
// throws TFirmwareBlockTooLarge after version has been filled.
bool ParseFirmwareImage(uint8_t* image, size_t length, TFirmwareVersion& version,
                        TFirmwareBlockList& blocks, const TLogSink& log);

}  // namespace updater
