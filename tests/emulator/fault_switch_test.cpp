// Each fault switch, seen from the client: what comes back, and whether the request was
// carried out (a later request shows it).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <limits>

#include "SimTestClient.h"

namespace simtest {
namespace {

constexpr uint32_t kSector10 = 10 * 4096;
constexpr uint32_t kSector11 = 11 * 4096;
constexpr size_t kNoReply = 0;
constexpr size_t kQueryReply = std::numeric_limits<size_t>::max();

struct Step {
  Bytes request;
  size_t length = 14;  // bytes expected back; kQueryReply: a whole query reply
  uint16_t code = 128;
  int sectorShift = 0;        // echoed sector minus the request's
  uint32_t addressShift = 0;  // echoed address minus the request's
  int copies = 1;             // the same reply this many times, back to back
};

struct FaultCase {
  const char* name;
  std::string faults;
  std::vector<Step> steps;
};

Step Query() {
  return {Request(4), kQueryReply};
}
Step Erase(uint16_t sector, uint16_t code = 128) {
  return {Request(6, sector, sector * 4096u), 14, code};
}
Step Write(uint16_t sector, uint16_t code = 128) {
  return {WriteRequest(sector, sector * 4096u, 7), 14, code};
}
Step Twice(Step s) {
  s.copies = 2;
  return s;
}
Step Reply(Step s, size_t length, int sectorShift = 0, uint32_t addressShift = 0) {
  s.length = length;
  s.sectorShift = sectorShift;
  s.addressShift = addressShift;
  return s;
}

class FaultSwitch : public HostTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultSwitch, ShowsItsFault) {
  const std::string serial = AddTracker("serial=7001,cpu=0x26013F37" + GetParam().faults);
  auto client = Connect(serial);
  int number = 0;
  for (const Step& step : GetParam().steps) {
    SCOPED_TRACE("request " + std::to_string(++number));
    ASSERT_TRUE(client->Send(step.request));
    if (step.length == kNoReply) {
      continue;  // the next reply read must be the next request's
    }
    if (step.length == kQueryReply) {
      const auto reply = client->ReadReply();
      EXPECT_EQ(reply.code(), 128);
      EXPECT_EQ(reply.PayloadText(), "ROZI-1.15");
      continue;
    }
    const size_t total = step.length * static_cast<size_t>(step.copies);
    const Bytes got = client->ReadExactly(total);
    ASSERT_EQ(got.size(), total);
    if (step.length < 14) {
      continue;
    }
    for (int copy = 0; copy < step.copies; ++copy) {
      const auto from = got.begin() + static_cast<long>(step.length) * copy;
      const simtest::Reply reply{Bytes(from, from + static_cast<long>(step.length))};
      const simtest::Reply request{step.request};
      EXPECT_EQ(reply.code(), step.code);
      EXPECT_EQ(reply.sector(), request.sector() + step.sectorShift);
      EXPECT_EQ(reply.address(), request.address() + step.addressShift);
    }
  }
  ASSERT_TRUE(host_->WaitRequests(serial, GetParam().steps.size()));
  EXPECT_EQ(host_->Requests(serial).size(), GetParam().steps.size());
}

INSTANTIATE_TEST_SUITE_P(
    Switches, FaultSwitch,
    ::testing::Values(
        FaultCase{
            "protected", ",protect=10", {Erase(10, 131), Write(10, 131), Erase(11), Write(11)}},
        FaultCase{"erase_protected", ",protect-erase=10", {Erase(10, 131), Write(10, 134)}},
        FaultCase{"write_protected", ",protect-write=10", {Erase(10), Write(10, 131), Erase(11)}},
        FaultCase{"locked", ",locked", {Erase(10, 138), Write(10, 134)}},
        FaultCase{"refuse", ",refuse=2:140", {Query(), Erase(10, 140), Write(10, 134)}},
        FaultCase{"drop", ",drop=2", {Query(), Reply(Erase(10), kNoReply), Query(), Write(10)}},
        FaultCase{
            "truncate", ",truncate=2:13", {Query(), Reply(Erase(10), 13), Query(), Write(10)}},
        FaultCase{"wrong_sector", ",wrong-sector=2", {Query(), Reply(Erase(10), 14, 1), Write(10)}},
        FaultCase{"wrong_address",
                  ",wrong-address=3",
                  {Query(), Erase(11), Reply(Write(11), 14, 0, 512), Write(11)}},
        FaultCase{"delay", ",delay=30", {Query(), Erase(10), Write(10)}},
        FaultCase{"pace", ",pace=30", {Query(), Erase(10), Write(10)}},
        FaultCase{"duplicate", ",duplicate=3", {Query(), Erase(11), Twice(Write(11)), Query()}},
        FaultCase{"several",
                  ",drop=1,drop=2,refuse=3:131",
                  {Reply(Query(), kNoReply), Reply(Erase(10), kNoReply), Erase(11, 131), Query()}}),
    [](const auto& p) { return std::string(p.param.name); });

// A paced tracker answers back-to-back requests no faster than its pace, however quick the
// client is; a machine can only make this slower.
TEST_F(HostTest, APacedTrackerAnswersNoFasterThanItsPace) {
  auto client = Connect(AddTracker("serial=7004,pace=60"));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(client->Exchange(Request(4)).code(), 128);
  }
  // The first is answered at once, each later one a pace after the one before (on a clock of
  // whole milliseconds, so each may come up to one early).
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3 * (60 - 1)));
}

TEST_F(HostTest, ProtectedSectorKeepsItsContents) {
  updater::sim::TrackerConfig config = Config("serial=7002,cpu=0x26013F37,protect=10");
  config.preload.assign(12 * 4096, 0x5A);
  host_->Add(config);
  host_->Start();
  auto client = Connect("7002");
  EXPECT_EQ(client->Exchange(Request(6, 10, kSector10)).code(), 131);
  EXPECT_EQ(client->Exchange(Request(6, 11, kSector11)).code(), 128);
  const auto flash = host_->Flash("7002");
  EXPECT_TRUE(std::all_of(flash.begin() + kSector10, flash.begin() + kSector11,
                          [](uint8_t b) { return b == 0x5A; }));
  EXPECT_TRUE(std::all_of(flash.begin() + kSector11, flash.begin() + kSector11 + 4096,
                          [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(HostTest, VanishedTrackerHangsUpAndStaysAway) {
  const std::string serial = AddTracker("serial=7003,vanish=2");
  auto client = Connect(serial);
  const std::string entry = host_->Status(serial).entryPath;
  EXPECT_EQ(client->Exchange(Request(4)).code(), 128);
  EXPECT_EQ(client->Exchange(Request(5)).code(), 128) << "the last request is still answered";
  ASSERT_TRUE(host_->WaitUnplugged(serial));
  EXPECT_TRUE(host_->Status(serial).vanished);
  EXPECT_FALSE(IsSymlink(entry));
  EXPECT_TRUE(client->SeesHangUp());
  EXPECT_FALSE(client->Send(Request(4)));

  ASSERT_TRUE(host_->Plug(serial));
  Client again(entry);
  EXPECT_EQ(again.Exchange(Request(10)).code(), 128);
}

}  // namespace
}  // namespace simtest
