#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "EmbeddedImage.h"
#include "FirmwareBlock.h"

using namespace updater;

namespace {

// Counts the sectors of one size, laid out from base, that the payload leaves all erased and
// those it fills at least partly (a sector the payload only begins counts as filled).
struct SectorCount {
  int erased = 0;
  int filled = 0;
};

SectorCount CountSectors(const std::vector<uint8_t>& payload, size_t base, size_t sector) {
  SectorCount count;
  const size_t first = base / sector * sector;
  for (size_t start = first; start < base + payload.size(); start += sector) {
    const size_t from = std::max(start, base) - base;
    const size_t to = std::min(start + sector, base + payload.size()) - base;
    const bool erased = std::all_of(payload.begin() + from, payload.begin() + to,
                                    [](uint8_t b) { return b == 0xFF; });
    // Only sectors wholly inside the payload can be skipped for being erased.
    if (erased && start >= base && start + sector <= base + payload.size()) {
      ++count.erased;
    } else if (!erased) {
      ++count.filled;
    }
  }
  return count;
}

}  // namespace

TEST(EmbeddedImage, IsTheDatedRoziImageAndPassesEveryCheck) {
  const std::optional<std::vector<uint8_t>> image = ReadEmbeddedImage();
  ASSERT_TRUE(image.has_value()) << "resource :/FRMV is not linked in";
  ASSERT_EQ(image->size(), 131110u);
  // Length with the build-date flag, then the checksum of its first 38 bytes.
  EXPECT_EQ(std::vector<uint8_t>(image->begin(), image->begin() + 6),
            (std::vector<uint8_t>{0x26, 0x00, 0x02, 0x80, 0x3B, 0x7D}));

  std::vector<uint8_t> bytes = *image;
  std::vector<std::string> lines;
  const TLogSink log = [&lines](int, int32_t, const std::string& text) { lines.push_back(text); };
  TFirmwareVersion version;
  TFirmwareBlockList blocks;
  ASSERT_TRUE(ParseFirmwareImage(bytes.data(), bytes.size(), version, blocks, log));
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(version.Family, "ROZI");
  EXPECT_EQ(version.Number, 116);
  EXPECT_EQ(version.Suffix, "");
  EXPECT_EQ(version.VersionText(), "ROZI-1.16");
  EXPECT_EQ(version.BuildDateText(), "07-11-2013 16:25:19");
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks.front()->Address, -1);
  EXPECT_EQ(blocks.front()->Size, 131072);
  EXPECT_TRUE(
      std::equal(blocks.front()->Data.begin(), blocks.front()->Data.end(), image->begin() + 38));
}

TEST(EmbeddedImage, PayloadHasWrittenAndErasedSectorsOnEveryMap) {
  const std::optional<std::vector<uint8_t>> image = ReadEmbeddedImage();
  ASSERT_TRUE(image.has_value());
  const std::vector<uint8_t> payload(image->begin() + 38, image->end());
  // Where the image starts on each kind of map, and the sector sizes found there.
  const struct {
    size_t base;
    size_t sector;
  } layouts[] = {
      {0x4000, 4096}, {0x4000, 32768}, {0xA000, 4096}, {0xA000, 32768}, {0x4400, 512},
  };
  for (const auto& layout : layouts) {
    const SectorCount count = CountSectors(payload, layout.base, layout.sector);
    EXPECT_GT(count.erased, 0) << std::hex << layout.base << " / " << layout.sector;
    EXPECT_GT(count.filled, 1) << std::hex << layout.base << " / " << layout.sector;
  }
}
