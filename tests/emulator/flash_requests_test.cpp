// Erase and write requests: which sectors and addresses each processor's flash layout takes,
// which command set each boot loader understands, and erase-before-write.

#include <gtest/gtest.h>

#include <algorithm>

#include "SimTestClient.h"

namespace simtest {
namespace {

constexpr uint32_t kSmall = 4096;
constexpr uint32_t kLarge = 32768;

struct RequestCase {
  const char* name;
  std::string tracker;  // cpu= and boot= items
  uint16_t code;        // 1/6 erase, 2/7 write (writes are preceded by an erase of the sector)
  uint16_t sector;
  uint32_t address;
  uint16_t expected;
};

class FlashRequest : public HostTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(FlashRequest, IsAnsweredByTheLayout) {
  const RequestCase& c = GetParam();
  const std::string serial = AddTracker("serial=6001," + c.tracker);
  auto client = Connect(serial);
  const bool write = c.code == 2 || c.code == 7;
  if (write) {
    const auto map = host_->SectorMap(serial);
    ASSERT_LT(c.sector, map.sectors.size());
    // Prepare with whichever erase the tracker understands; the write is what is tested.
    const uint32_t start = map.sectors[c.sector].address;
    if (client->Exchange(Request(6, c.sector, start)).code() != 128) {
      ASSERT_EQ(client->Exchange(Request(1, c.sector, start)).code(), 128);
    }
  }
  const Reply reply = client->Exchange(write ? WriteRequest(c.sector, c.address, 0x11, c.code)
                                             : Request(c.code, c.sector, c.address));
  ASSERT_EQ(reply.bytes.size(), 14u);
  EXPECT_EQ(reply.total(), 14);
  EXPECT_EQ(reply.header(), 14);
  EXPECT_EQ(reply.code(), c.expected);
  EXPECT_EQ(reply.sector(), c.sector);
  EXPECT_EQ(reply.address(), c.address);
}

const char* const k30 = "cpu=0x26013F37,boot=BOOT-1.02";
const char* const k22 = "cpu=0x26013733,boot=BOOT-1.02";
const char* const k64 = "cpu=0x10040204,boot=BOOT-1.02";
const char* const k256 = "cpu=0x400FE000,boot=BOOT-1.02";
const char* const kTR = "cpu=0,boot=BOOT-1.03TR";
const char* const kPP = "cpu=0x12345678,boot=BOOT-1.05 PP";
const char* const kOther = "cpu=0,boot=BOOT-1.03";
const char* const kOther104 = "cpu=0,boot=BOOT-1.04";

INSTANTIATE_TEST_SUITE_P(
    Layouts, FlashRequest,
    ::testing::Values(RequestCase{"first_writable_30", k30, 6, 10, 10 * kSmall, 128},
                      RequestCase{"last_sector_30", k30, 6, 29, 0x10000 + 13 * kLarge, 128},
                      RequestCase{"past_map_30", k30, 6, 30, 0x10000 + 14 * kLarge, 133},
                      RequestCase{"boot_area_30", k30, 6, 9, 9 * kSmall, 133},
                      RequestCase{"erase_not_at_sector_start", k30, 6, 16, 0x10000 + 512, 133},
                      RequestCase{"older_set_refused_30", k30, 1, 10, 10 * kSmall, 132},
                      RequestCase{"older_write_refused_30", k30, 2, 10, 10 * kSmall, 132},
                      RequestCase{"last_part_of_large", k30, 7, 16, 0x10000 + kLarge - 512, 128},
                      RequestCase{"write_off_boundary", k30, 7, 10, 10 * kSmall + 256, 133},
                      RequestCase{"write_into_next_sector", k30, 7, 10, 11 * kSmall, 133},
                      RequestCase{"last_sector_22", k22, 6, 21, 0x10000 + 5 * kLarge, 128},
                      RequestCase{"past_map_22", k22, 6, 22, 0x10000 + 6 * kLarge, 133},
                      RequestCase{"last_sector_64", k64, 6, 63, 63 * kSmall, 128},
                      RequestCase{"boot_area_64", k64, 6, 3, 3 * kSmall, 133},
                      RequestCase{"first_sector_256", k256, 6, 0, 0x4400, 128},
                      RequestCase{"last_sector_256", k256, 7, 255, 0x4400 + 255 * 512, 128},
                      RequestCase{"large_start_TR", kTR, 1, 8, 0x8000, 128},
                      RequestCase{"tail_start_TR", kTR, 1, 22, 0x78000, 128},
                      RequestCase{"last_sector_TR", kTR, 2, 26, 0x7C000, 128},
                      RequestCase{"no_sector_27_TR", kTR, 1, 27, 0x7D000, 133},
                      RequestCase{"no_sector_27_PP", kPP, 1, 27, 0x7D000, 133},
                      RequestCase{"sector_27_other", kOther, 1, 27, 0x7D000, 128},
                      RequestCase{"boot_area_other", kOther, 1, 3, 3 * kSmall, 133},
                      RequestCase{"newer_set_before_104", kOther, 6, 4, 4 * kSmall, 132},
                      RequestCase{"newer_set_from_104", kOther104, 7, 4, 4 * kSmall, 128},
                      RequestCase{"older_set_from_104", kOther104, 2, 4, 4 * kSmall, 128}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(HostTest, WriteNeedsErasedPart) {
  const std::string serial = AddTracker("serial=6002,cpu=0x26013F37");
  auto client = Connect(serial);
  const uint32_t sector = 12 * kSmall;
  EXPECT_EQ(client->Exchange(WriteRequest(12, sector, 1)).code(), 134) << "never erased";
  EXPECT_EQ(client->Exchange(Request(6, 12, sector)).code(), 128);
  EXPECT_EQ(client->Exchange(WriteRequest(12, sector, 1)).code(), 128);
  EXPECT_EQ(client->Exchange(WriteRequest(12, sector, 1)).code(), 128) << "same data again";
  EXPECT_EQ(client->Exchange(WriteRequest(12, sector, 2)).code(), 134) << "other data";
  EXPECT_EQ(client->Exchange(WriteRequest(12, sector + 512, 3)).code(), 128);

  const Bytes written = WriteRequest(12, sector, 1);
  const auto flash = host_->Flash(serial);
  ASSERT_GE(flash.size(), sector + 4096);
  EXPECT_TRUE(std::equal(written.begin() + 14, written.end(), flash.begin() + sector));
  EXPECT_TRUE(std::all_of(flash.begin() + sector + 1024, flash.begin() + sector + 4096,
                          [](uint8_t b) { return b == 0xFF; }));

  // Erasing again clears what was written.
  EXPECT_EQ(client->Exchange(Request(6, 12, sector)).code(), 128);
  const auto erased = host_->Flash(serial);
  EXPECT_TRUE(std::all_of(erased.begin() + sector, erased.begin() + sector + 4096,
                          [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(HostTest, FinishingRequestIsRecorded) {
  const std::string serial = AddTracker("serial=6003");
  auto client = Connect(serial);
  EXPECT_EQ(client->Exchange(Request(12)).code(), 128);
  EXPECT_EQ(host_->Status(serial).finish, updater::sim::FinishState::Failed);
  EXPECT_EQ(client->Exchange(Request(11)).code(), 128);
  EXPECT_EQ(host_->Status(serial).finish, updater::sim::FinishState::Succeeded);
  const auto log = host_->Requests(serial);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].code, 11);
  EXPECT_EQ(log[1].raw, Request(11));
}

struct BadFrameCase {
  const char* name;
  Bytes frame;
  uint16_t expected;
};

Bytes WithBadChecksum(Bytes frame) {
  frame[12] ^= 0x01;
  return frame;
}

Bytes WithTotalLength(Bytes frame, uint16_t total) {
  frame.resize(total, 0);
  frame[0] = static_cast<uint8_t>(total);
  frame[1] = static_cast<uint8_t>(total >> 8);
  frame[12] = frame[13] = 0;
  const uint16_t sum = Sum16(frame);
  frame[12] = static_cast<uint8_t>(sum);
  frame[13] = static_cast<uint8_t>(sum >> 8);
  return frame;
}

class BadFrame : public HostTest, public ::testing::WithParamInterface<BadFrameCase> {};

TEST_P(BadFrame, IsRefusedAndChangesNothing) {
  const std::string serial = AddTracker("serial=6004,cpu=0x26013F37");
  auto client = Connect(serial);
  ASSERT_EQ(client->Exchange(Request(6, 10, 10 * kSmall)).code(), 128);
  const auto before = host_->Flash(serial);
  const Reply reply = client->Exchange(GetParam().frame);
  EXPECT_EQ(reply.bytes.size(), 14u);
  EXPECT_EQ(reply.code(), GetParam().expected);
  EXPECT_EQ(host_->Flash(serial), before);
  ASSERT_EQ(host_->Requests(serial).size(), 2u);
  EXPECT_EQ(host_->Requests(serial)[1].result, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, BadFrame,
    ::testing::Values(
        BadFrameCase{"erase_bad_checksum", WithBadChecksum(Request(6, 11, 11 * kSmall)), 129},
        BadFrameCase{"write_bad_checksum", WithBadChecksum(WriteRequest(10, 10 * kSmall, 5)), 129},
        BadFrameCase{"write_without_data", WithTotalLength(WriteRequest(10, 10 * kSmall, 5), 14),
                     130},
        BadFrameCase{"query_with_data", WithTotalLength(Request(4), 30), 130},
        BadFrameCase{"unknown_code", Request(3), 132}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace simtest
