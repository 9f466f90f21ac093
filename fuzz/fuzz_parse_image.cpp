// Arbitrary bytes as an image file: the check must refuse or accept them without reading
// beyond them, and what it accepts must be one consistent block.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "FirmwareBlock.h"

using namespace updater;

namespace {

void Check(std::vector<uint8_t> image) {
  const size_t size = image.size();
  size_t lines = 0;
  const TLogSink log = [&lines](int kind, int32_t serial, const std::string& text) {
    if (kind != kLogError || serial != 0 || text.empty()) {
      __builtin_trap();
    }
    ++lines;
  };
  TFirmwareVersion version;
  TFirmwareBlockList blocks;
  bool ok = false;
  try {
    ok = ParseFirmwareImage(image.data(), size, version, blocks, log);
  } catch (const TFirmwareBlockTooLarge&) {
    return;
  }
  if (ok) {
    if (blocks.size() != 1 || blocks[0]->Address != -1 || blocks[0]->Size < 0 ||
        static_cast<size_t>(blocks[0]->Size) + 8 > size ||
        blocks[0]->Data.size() != static_cast<size_t>(blocks[0]->Size) || lines > 1) {
      __builtin_trap();
    }
  } else if (!blocks.empty()) {
    __builtin_trap();
  }
  (void)version.VersionText();
  (void)version.BuildDateText();
  FreeBlocks(blocks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exact-size copies: AddressSanitizer catches a single byte read past the end.
  std::vector<uint8_t> image(data, data + size);
  Check(image);
  // The same bytes with a length word and checksum that agree with them, so that the fuzzer
  // gets past those two checks to the version and date texts and the payload.
  if (size >= 8) {
    const uint32_t word = static_cast<uint32_t>(size) | (image[3] & 0x80u) << 24;
    for (size_t i = 0; i < 4; ++i) {
      image[i] = static_cast<uint8_t>(word >> (8 * i));
    }
    image[4] = image[5] = 0;
    const uint16_t sum = Checksum16(image.data(), static_cast<uint16_t>(size));
    image[4] = static_cast<uint8_t>(sum);
    image[5] = static_cast<uint8_t>(sum >> 8);
    Check(std::move(image));
  }
  return 0;
}
