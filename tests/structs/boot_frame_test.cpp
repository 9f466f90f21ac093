#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "BootFrame.h"
#include "FirmwareVersion.h"

using namespace updater;

namespace {

std::vector<uint8_t> Bytes(std::span<const uint8_t> frame) {
  return std::vector<uint8_t>(frame.begin(), frame.end());
}

}  // namespace

TEST(BootFrame, RequestsWithoutDataMatchTheDeviceBytes) {
  const struct {
    uint16_t code;
    uint16_t sector;
    uint32_t address;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {kBootQueryFirmware,
       kBootNoSector,
       0,
       {0x0E, 0x00, 0x0E, 0x00, 0x04, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2A, 0x00}},
      {kBootEraseNew,
       4,
       0x4000,
       {0x0E, 0x00, 0x0E, 0x00, 0x06, 0x00, 0x04, 0x00, 0x00, 0x40, 0x00, 0x00, 0x26, 0x40}},
      {kBootFinishSucceeded,
       kBootNoSector,
       0,
       {0x0E, 0x00, 0x0E, 0x00, 0x0B, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x31, 0x00}},
      // Every address byte lands in its place, and the sum carries around.
      {kBootEraseOld,
       0xFFFF,
       0x12345678,
       {0x0E, 0x00, 0x0E, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12, 0xC9, 0x68}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Bytes(BuildBootRequest(c.code, c.sector, c.address)), c.bytes) << c.code;
  }
}

TEST(BootFrame, WriteRequestCarriesItsDataAndSumsTheWholeFrame) {
  std::array<uint8_t, kBootDataSize> data;
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<uint8_t>(i * 7 + 3);
  }
  const TBootWriteRequest frame = BuildBootWriteRequest(kBootWriteNew, 17, 0x18200, data);
  ASSERT_EQ(frame.size(), 526u);
  const std::vector<uint8_t> header(frame.begin(), frame.begin() + 12);
  EXPECT_EQ(header, (std::vector<uint8_t>{0x0E, 0x02, 0x0E, 0x00, 0x07, 0x00, 0x11, 0x00, 0x00,
                                          0x82, 0x01, 0x00}));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), frame.begin() + 14));
  // The stored checksum is the sum of the frame with the checksum field zero.
  TBootWriteRequest zeroed = frame;
  zeroed[12] = zeroed[13] = 0;
  const uint16_t sum = Checksum16(zeroed.data(), static_cast<uint16_t>(zeroed.size()));
  EXPECT_EQ(frame[12] | frame[13] << 8, sum);
  // Data that sums to another value changes the checksum, not the length fields.
  data[511] ^= 0xFF;
  const TBootWriteRequest other = BuildBootWriteRequest(kBootWriteNew, 17, 0x18200, data);
  EXPECT_EQ(other[0] | other[1] << 8, 0x020E);
  EXPECT_EQ(other[2] | other[3] << 8, 14);
  EXPECT_NE(other[12] | other[13] << 8, sum);
}

TEST(BootFrame, ReplyHeaderIsReadFromAnyNumberOfBytes) {
  const std::vector<uint8_t> reply = {0x20, 0x00, 0x0E, 0x00, 0x80, 0x00, 0x04, 0x00,
                                      0x00, 0x40, 0x01, 0x80, 0xAA, 0x55, 'V',  'T'};
  const std::optional<TBootFrameHeader> header = ReadBootHeader(reply);
  ASSERT_TRUE(header.has_value());
  EXPECT_EQ(header->TotalLength, 0x20);
  EXPECT_EQ(header->HeaderLength, 14);
  EXPECT_EQ(header->Code, kBootReplyDone);
  EXPECT_EQ(header->Sector, 4);
  EXPECT_EQ(header->Address, 0x80014000u);
  EXPECT_EQ(header->Checksum, 0x55AA);

  EXPECT_TRUE(ReadBootHeader(std::span(reply).first(14)).has_value());
  for (size_t size = 0; size < 14; ++size) {
    EXPECT_FALSE(ReadBootHeader(std::span(reply).first(size)).has_value()) << size;
  }
  // A request reads back as what it was built from.
  const TBootRequest request = BuildBootRequest(kBootEraseNew, 4, 0x4000);
  const std::optional<TBootFrameHeader> back = ReadBootHeader(request);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->TotalLength, 14);
  EXPECT_EQ(back->Code, kBootEraseNew);
  EXPECT_EQ(back->Sector, 4);
  EXPECT_EQ(back->Address, 0x4000u);
  EXPECT_EQ(back->Checksum, 0x4026);
}
