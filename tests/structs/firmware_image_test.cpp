#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FirmwareBlock.h"

using namespace updater;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kSizeError = "Не верный размер файла прошивки";
constexpr const char* kChecksumError = "Ошибка контрольной суммы файла прошивки";
constexpr const char* kHeaderError = "Не верный заголовок файла прошивки";
constexpr const char* kDateError = "Ошибка декодирования времени компиляции прошивки";

// The 21-byte image without a build date, exactly as a device file holds it.
const Bytes kSmallImage = {0x15, 0x00, 0x00, 0x00, 0x5F, 0x0F, 0x09, 0x00, 0x56, 0x54, 0x53,
                           0x54, 0x2D, 0x31, 0x2E, 0x31, 0x36, 0x01, 0x02, 0x03, 0x04};

// The 38-byte header of a 128 KiB image with a build date, exactly as stored.
const Bytes kDatedHeader = {0x26, 0x00, 0x02, 0x80, 0x38, 0x8D, 0x09, 0x00, 0x56, 0x54,
                            0x53, 0x54, 0x2D, 0x31, 0x2E, 0x31, 0x36, 0x13, 0x00, 0x30,
                            0x37, 0x2E, 0x31, 0x31, 0x2E, 0x32, 0x30, 0x31, 0x33, 0x20,
                            0x31, 0x36, 0x3A, 0x32, 0x35, 0x3A, 0x31, 0x39};

void Put16(Bytes& image, size_t at, size_t value) {
  image[at] = static_cast<uint8_t>(value);
  image[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Seal(Bytes& image) {
  Put16(image, 4, 0);
  Put16(image, 4, Checksum16(image.data(), static_cast<uint16_t>(image.size())));
}

// An image laid out as the loader expects it, length word and checksum included.
Bytes MakeImage(std::string_view version, std::optional<std::string_view> date, size_t payload) {
  Bytes image(8);
  Put16(image, 6, version.size());
  image.insert(image.end(), version.begin(), version.end());
  if (date) {
    image.resize(image.size() + 2);
    Put16(image, image.size() - 2, date->size());
    image.insert(image.end(), date->begin(), date->end());
  }
  for (size_t i = 0; i < payload; ++i) {
    image.push_back(static_cast<uint8_t>(i * 13 + 1));
  }
  const uint32_t word = static_cast<uint32_t>(image.size()) | (date ? 0x80000000u : 0);
  for (size_t i = 0; i < 4; ++i) {
    image[i] = static_cast<uint8_t>(word >> (8 * i));
  }
  Seal(image);
  return image;
}

Bytes With(Bytes image, const std::function<void(Bytes&)>& change) {
  change(image);
  return image;
}

struct Outcome {
  bool ok = false;
  std::vector<std::string> lines;
  TFirmwareVersion version;
  TFirmwareBlockList blocks;
};

Outcome Check(Bytes image) {
  Outcome out;
  const TLogSink log = [&out](int kind, int32_t serial, const std::string& text) {
    EXPECT_EQ(kind, kLogError);
    EXPECT_EQ(serial, 0);
    out.lines.push_back(text);
  };
  out.ok = ParseFirmwareImage(image.data(), image.size(), out.version, out.blocks, log);
  return out;
}

}  // namespace

TEST(FirmwareImage, ChecksRunInOrderAndLogTheirLines) {
  const std::string dated = "07.11.2013 16:25:19";
  const struct {
    const char* name;
    Bytes image;
    bool ok;
    std::vector<std::string> lines;
    const char* version;  // VersionText after the check
    const char* date;     // BuildDateText after the check
    int32_t block;        // size of the one block appended; -1: none
  } cases[] = {
      {"stored 21-byte image", kSmallImage, true, {}, "VTST-1.16", "неизвестна", 4},
      {"one byte more",
       With(kSmallImage, [](Bytes& b) { b.push_back(0); }),
       false,
       {kSizeError},
       "?????",
       "неизвестна",
       -1},
      {"one byte less",
       With(kSmallImage, [](Bytes& b) { b.pop_back(); }),
       false,
       {kSizeError},
       "?????",
       "неизвестна",
       -1},
      {"build-date flag on an image without date",
       With(kSmallImage, [](Bytes& b) { b[3] = 0x80; }),
       false,
       {kChecksumError},
       "?????",
       "неизвестна",
       -1},
      {"payload byte changed",
       With(kSmallImage, [](Bytes& b) { b[20] ^= 1; }),
       false,
       {kChecksumError},
       "?????",
       "неизвестна",
       -1},
      {"checksum changed",
       With(kSmallImage, [](Bytes& b) { b[5] ^= 0x80; }),
       false,
       {kChecksumError},
       "?????",
       "неизвестна",
       -1},
      {"header only",
       MakeImage("ROZI-1.16", dated, 0),
       true,
       {},
       "ROZI-1.16",
       "07-11-2013 16:25:19",
       0},
      {"unreadable version text",
       MakeImage("ROZI", std::nullopt, 4),
       false,
       {},
       "?????",
       "неизвестна",
       -1},
      {"version text ends at a zero byte",
       MakeImage(std::string_view("ROZI-2.5\0x", 10), std::nullopt, 4),
       true,
       {},
       "ROZI-2.5",
       "неизвестна",
       4},
      {"date of a day that does not exist",
       MakeImage("ROZI-1.16", "31.02.2013 10:00:00", 4),
       true,
       {kDateError},
       "ROZI-1.16",
       "неизвестна",
       4},
      {"date with five numbers",
       MakeImage("ROZI-1.16", "07.11.2013 16:25", 4),
       true,
       {kDateError},
       "ROZI-1.16",
       "неизвестна",
       4},
      {"empty date text",
       MakeImage("ROZI-1.16", "", 4),
       true,
       {kDateError},
       "ROZI-1.16",
       "неизвестна",
       4},
      {"leap day",
       MakeImage("ROZI-1.16", "29.02.2012 23:59:59", 4),
       true,
       {},
       "ROZI-1.16",
       "29-02-2012 23:59:59",
       4},
      {"version length past the end",
       With(MakeImage("ROZI-1.16", std::nullopt, 0), [](Bytes& b) { Put16(b, 6, 10), Seal(b); }),
       false,
       {kHeaderError},
       "?????",
       "неизвестна",
       -1},
      {"version length of 65535",
       With(MakeImage("ROZI-1.16", std::nullopt, 4),
            [](Bytes& b) { Put16(b, 6, 0xFFFF), Seal(b); }),
       false,
       {kHeaderError},
       "?????",
       "неизвестна",
       -1},
      {"date length field past the end",
       With(MakeImage("ROZI-1.16", std::nullopt, 1), [](Bytes& b) { b[3] = 0x80, Seal(b); }),
       false,
       {kHeaderError},
       "?????",
       "неизвестна",
       -1},
      {"date text past the end",
       With(MakeImage("ROZI-1.16", dated, 0), [](Bytes& b) { Put16(b, 17, 20), Seal(b); }),
       false,
       {kHeaderError},
       "?????",
       "неизвестна",
       -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome out = Check(c.image);
    EXPECT_EQ(out.ok, c.ok);
    EXPECT_EQ(out.lines, c.lines);
    EXPECT_EQ(out.version.VersionText(), c.version);
    EXPECT_EQ(out.version.BuildDateText(), c.date);
    ASSERT_EQ(out.blocks.size(), c.block < 0 ? 0u : 1u);
    if (c.block >= 0) {
      const TFirmwareBlock& block = *out.blocks.front();
      EXPECT_EQ(block.Address, -1);
      EXPECT_EQ(block.Size, c.block);
      const Bytes tail(c.image.end() - c.block, c.image.end());
      EXPECT_EQ(block.Data, tail);
    }
  }
}

TEST(FirmwareImage, ImagesShorterThanTheirFixedHeaderAreRefused) {
  for (size_t size = 0; size < 8; ++size) {
    // The length word, where it fits, agrees with the size: only the size can refuse it.
    Bytes image(size, 0);
    if (size >= 1) {
      image[0] = static_cast<uint8_t>(size);
    }
    const Outcome out = Check(image);
    EXPECT_FALSE(out.ok) << size;
    EXPECT_EQ(out.lines, std::vector<std::string>{kSizeError}) << size;
    EXPECT_TRUE(out.blocks.empty());
  }
}

TEST(FirmwareImage, OnlyTheFirstLengthModulo65536BytesAreSummed) {
  // 131072 + 38 bytes: the sum covers the 38 header bytes, so the payload does not matter.
  Bytes image = kDatedHeader;
  image.resize(131110, 0x5A);
  for (const uint8_t fill : {uint8_t{0x5A}, uint8_t{0xFF}}) {
    std::fill(image.begin() + 38, image.end(), fill);
    const Outcome out = Check(image);
    EXPECT_TRUE(out.ok);
    EXPECT_TRUE(out.lines.empty());
    EXPECT_EQ(out.version.Family, "VTST");
    EXPECT_EQ(out.version.Number, 116);
    EXPECT_EQ(out.version.BuildDateText(), "07-11-2013 16:25:19");
    ASSERT_EQ(out.blocks.size(), 1u);
    EXPECT_EQ(out.blocks.front()->Size, 131072);
    EXPECT_EQ(out.blocks.front()->Data.back(), fill);
  }

  // A length that is a multiple of 65536 sums no bytes: only a stored 0 passes.
  Bytes whole = MakeImage("ROZI-1.16", std::nullopt, 65536 - 17);
  ASSERT_EQ(whole.size(), 65536u);
  Put16(whole, 4, 0);
  EXPECT_TRUE(Check(whole).ok);
  Put16(whole, 4, 1);
  const Outcome refused = Check(whole);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.lines, std::vector<std::string>{kChecksumError});
}

TEST(FirmwareImage, FailedChecksLeaveTheRecordAndTheListAlone) {
  TFirmwareVersion version;
  ASSERT_TRUE(version.Parse("ZOZI-3.01 rc"));
  version.BuildDate = 100;
  TFirmwareBlockList blocks;
  const uint8_t old[] = {9, 9};
  blocks.push_back(std::make_unique<TFirmwareBlock>(old, 2, 0x4000));
  const TLogSink quiet;  // an empty sink is allowed

  for (Bytes image : {With(kSmallImage, [](Bytes& b) { b.pop_back(); }),
                      With(kSmallImage, [](Bytes& b) { b[20] ^= 1; }),
                      With(kSmallImage, [](Bytes& b) { Put16(b, 6, 14), Seal(b); })}) {
    EXPECT_FALSE(ParseFirmwareImage(image.data(), image.size(), version, blocks, quiet));
    EXPECT_EQ(version.VersionText(), "ZOZI-3.1rc");
    EXPECT_EQ(version.BuildDate, 100);
    EXPECT_EQ(blocks.size(), 1u);
  }

  // A good image appends its block behind the ones already held.
  Bytes image = kSmallImage;
  EXPECT_TRUE(ParseFirmwareImage(image.data(), image.size(), version, blocks, quiet));
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0]->Address, 0x4000);
  EXPECT_EQ(blocks[1]->Data, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(version.VersionText(), "VTST-1.16");
  EXPECT_EQ(version.BuildDate, 0);

  FreeBlocks(blocks);
  EXPECT_TRUE(blocks.empty());
}

TEST(FirmwareImage, PayloadAboveTwoMebibytesThrowsAfterTheVersionIsRead) {
  const Bytes largest = MakeImage("ROZI-1.16", std::nullopt, kMaxFirmwareBlockSize);
  const Outcome fits = Check(largest);
  EXPECT_TRUE(fits.ok);
  ASSERT_EQ(fits.blocks.size(), 1u);
  EXPECT_EQ(fits.blocks.front()->Size, 2097152);

  Bytes over = MakeImage("ROZI-1.17", "07.11.2013 16:25:19", kMaxFirmwareBlockSize + 1);
  TFirmwareVersion version;
  TFirmwareBlockList blocks;
  try {
    ParseFirmwareImage(over.data(), over.size(), version, blocks, TLogSink());
    ADD_FAILURE() << "no error raised";
  } catch (const TFirmwareBlockTooLarge& error) {
    EXPECT_STREQ(error.what(), "Слишком большой размер блока прошивки");
  }
  EXPECT_EQ(version.VersionText(), "ROZI-1.17");
  EXPECT_EQ(version.BuildDateText(), "07-11-2013 16:25:19");
  EXPECT_TRUE(blocks.empty());
  EXPECT_LE(over.size(), kMaxFirmwareImageSize);
}

TEST(FirmwareBlock, CopiesItsDataAndRefusesOversizeAndNegativeSizes) {
  Bytes source = {1, 2, 3};
  const TFirmwareBlock block(source.data(), 3, 0xA000);
  source[0] = 7;
  EXPECT_EQ(block.Data, (Bytes{1, 2, 3}));
  EXPECT_EQ(block.Size, 3);
  EXPECT_EQ(block.Address, 0xA000);

  const TFirmwareBlock empty(nullptr, 0, -1);
  EXPECT_TRUE(empty.Data.empty());

  // The size is judged before the data is touched.
  EXPECT_THROW(TFirmwareBlock(source.data(), -1, -1), TFirmwareBlockTooLarge);
  EXPECT_THROW(TFirmwareBlock(source.data(), kMaxFirmwareBlockSize + 1, -1),
               TFirmwareBlockTooLarge);
}
