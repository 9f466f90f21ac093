// The channel's exact library calls, against the recording fake of both libraries.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "DeviceChannel.h"
#include "recording_libs.h"

namespace updater {
namespace {

using Calls = std::vector<std::string>;

class ChannelCalls : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override { recording::Reset(); }
  void TearDown() override { recording::Reset(); }

  bool Ftdi() const { return GetParam() == 0; }
  std::string WriteCall(int length) const {
    return (Ftdi() ? "FT_Write " : "QL_Write ") + std::to_string(length);
  }
  // A record of this test's driver kind, open as far as the channel can tell.
  TDevEntry& OpenRecord() {
    if (Ftdi()) {
      dev_.FtHandle = recording::kFtHandle;
    } else {
      dev_.QlHandle = recording::kQlHandle;
    }
    return dev_;
  }

  std::unique_ptr<TFtdiLibrary> ftdi_ = recording::FtdiTable();
  std::unique_ptr<TQlLibrary> ql_ = recording::QlTable();
  TDeviceChannel channel_{ftdi_.get(), ql_.get(), recording::Clock()};
  TDevEntry dev_{"-1", 7, GetParam()};
  std::vector<uint8_t> message_ = std::vector<uint8_t>(200, 0x5A);
};

TEST_P(ChannelCalls, WritesInPartsOf64WithOnePauseBetweenParts) {
  struct Case {
    uint32_t length;
    std::vector<int> parts;  // each followed by a pause except the last
  };
  for (const Case& c :
       std::vector<Case>{{0, {}}, {1, {1}}, {64, {64}}, {65, {64, 1}}, {130, {64, 64, 2}}}) {
    recording::Reset();
    Calls expected;
    for (size_t i = 0; i < c.parts.size(); ++i) {
      if (i != 0) {
        expected.push_back("sleep 1");
      }
      expected.push_back(WriteCall(c.parts[i]));
    }
    EXPECT_TRUE(channel_.DevWrite(OpenRecord(), message_.data(), c.length)) << c.length;
    EXPECT_EQ(recording::Calls, expected) << c.length;
  }
}

TEST_P(ChannelCalls, ShortOrRefusedPartStopsTheMessage) {
  recording::Script.ShortWriteCall = 1;  // the second part falls one byte short
  EXPECT_FALSE(channel_.DevWrite(OpenRecord(), message_.data(), 130));
  EXPECT_EQ(recording::Calls, (Calls{WriteCall(64), "sleep 1", WriteCall(64)}));

  recording::Reset();
  recording::Script.WriteStatus = 4;
  EXPECT_FALSE(channel_.DevWrite(dev_, message_.data(), 130));
  EXPECT_EQ(recording::Calls, Calls{WriteCall(64)});

  recording::Reset();
  uint32_t written = 99;
  recording::Script.WriteStatus = 4;
  EXPECT_FALSE(channel_.DevWritePart(dev_, message_.data(), 10, written));
  EXPECT_EQ(written, 10u) << "the count the library reported, even on failure";
}

TEST_P(ChannelCalls, OpensBySerialTextAndSetsTheLibrarysTimeouts) {
  const auto open = [&](TDevEntry& dev) {
    recording::Calls.clear();
    EXPECT_TRUE(channel_.DevOpen(dev));
    channel_.DevClose(dev);
    return recording::Calls.front();
  };
  const std::string open_call = Ftdi() ? "FT_OpenEx " : "QL_OpenDevice 7 ";
  const std::string flag = Ftdi() ? " 1" : "";
  // By the text the library listed: the vendor's library matches it exactly, leading zeros
  // and all.
  for (const char* listed : {"-1", "0", "0042", "2147483647", "-2147483648"}) {
    TDevEntry dev(listed, 7, GetParam());
    EXPECT_EQ(open(dev), open_call + listed + flag);
  }
  // A record made without a text is named by its number.
  TDevEntry unnamed("", 7, GetParam());
  unnamed.Serial = 42;
  EXPECT_EQ(open(unnamed), open_call + "42" + flag);

  recording::Calls.clear();
  ASSERT_TRUE(channel_.DevOpen(dev_));
  EXPECT_EQ(recording::Calls[1], Ftdi() ? "FT_SetTimeouts 1000 200" : "QL_SetTimeouts 500 200");
  EXPECT_TRUE(Ftdi() ? dev_.FtHandle == recording::kFtHandle
                     : dev_.QlHandle == recording::kQlHandle);
}

TEST_P(ChannelCalls, FailedOpenLeavesTheRecordClosed) {
  for (const bool gives_handle : {true, false}) {
    recording::Reset();
    recording::Script.OpenStatus = gives_handle ? 2 : 0;
    recording::Script.OpenGivesHandle = gives_handle;
    EXPECT_FALSE(channel_.DevOpen(dev_));
    EXPECT_EQ(recording::Calls.size(), 1u) << "no time-outs set on a device that is not open";
    EXPECT_EQ(dev_.FtHandle, nullptr);
    EXPECT_EQ(dev_.QlHandle, 0u);
    channel_.DevClose(dev_);
    EXPECT_EQ(recording::Calls.size(), 1u);
  }
}

TEST_P(ChannelCalls, CloseResetsAnOpenDeviceAndLeavesAClosedOneAlone) {
  channel_.DevClose(dev_);
  EXPECT_TRUE(recording::Calls.empty());

  channel_.DevClose(OpenRecord());
  EXPECT_EQ(recording::Calls,
            (Ftdi() ? Calls{"FT_ResetDevice", "FT_Close"} : Calls{"QL_CloseDevice 7"}));
  EXPECT_EQ(dev_.FtHandle, nullptr);
  EXPECT_EQ(dev_.QlHandle, 0u);
}

// A library that is not loaded, or a record that is not open, gets no call at all; the other
// library, loaded, is not asked either.
TEST_P(ChannelCalls, NothingIsCalledWithoutTheLibraryOrAHandle) {
  const TDeviceChannel other_library_only(Ftdi() ? nullptr : ftdi_.get(),
                                          Ftdi() ? ql_.get() : nullptr, recording::Clock());
  recording::Script.Arrivals.emplace(0, "reply");
  std::array<uint8_t, 8> buffer{};
  const auto exchange = [&](const TDeviceChannel& channel, TDevEntry& dev) {
    uint32_t written = 5;
    EXPECT_FALSE(channel.DevWritePart(dev, message_.data(), 5, written));
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(channel.DevWrite(dev, message_.data(), 5));
    EXPECT_EQ(channel.DevRead(dev, buffer.data(), 10, 8), 0);
    channel.DevClose(dev);
  };
  exchange(channel_, dev_);  // closed record, libraries loaded
  EXPECT_FALSE(other_library_only.DevOpen(dev_));
  exchange(other_library_only, OpenRecord());
  EXPECT_TRUE(recording::Calls.empty()) << recording::Calls.front();
  EXPECT_EQ(recording::Queued(), "reply");
}

INSTANTIATE_TEST_SUITE_P(BothLibraries, ChannelCalls, ::testing::Values(0u, 1u),
                         [](const auto& p) { return p.param == 0 ? "Ftdi" : "Maker"; });

// The FTDI read polls the receive queue itself, on the fake clock.
class FtdiRead : public ::testing::Test {
 protected:
  void SetUp() override {
    recording::Reset();
    dev_.FtHandle = recording::kFtHandle;
    buffer_.fill(0xEE);
  }
  void TearDown() override { recording::Reset(); }
  std::string Read(uint32_t timeout, uint32_t capacity) {
    const int32_t n = channel_.DevRead(dev_, buffer_.data(), timeout, capacity);
    return std::string(reinterpret_cast<const char*>(buffer_.data()), n < 0 ? 0 : n);
  }

  std::unique_ptr<TFtdiLibrary> ftdi_ = recording::FtdiTable();
  TDeviceChannel channel_{ftdi_.get(), nullptr, recording::Clock()};
  TDevEntry dev_{"12", 0xFFFF, 0};
  std::array<uint8_t, 32> buffer_{};
};

TEST_F(FtdiRead, NothingArrivingGivesZeroAfterTheTimeoutWithTheBufferZeroed) {
  EXPECT_EQ(Read(20, 16), "");
  EXPECT_GT(recording::Now - 1000, 20u) << "waited out the time-out";
  EXPECT_LE(recording::Now - 1000, 22u) << "and not much more";
  for (size_t i = 0; i < buffer_.size(); ++i) {
    EXPECT_EQ(buffer_[i], i < 16 ? 0 : 0xEE) << i;
  }
}

TEST_F(FtdiRead, AReplyIsWhatHasArrivedOneMillisecondAfterItsFirstByte) {
  recording::Script.Arrivals = {{1005, "AB"}, {1006, "CD"}, {1009, "EF"}};
  EXPECT_EQ(Read(100, 32), "ABCD");
  EXPECT_EQ(Read(100, 32), "EF") << "later bytes are the next read's";
}

TEST_F(FtdiRead, MoreWaitingThanTheCapacityReadsExactlyTheCapacity) {
  recording::Script.Arrivals = {{0, "0123456789"}};
  EXPECT_EQ(Read(100, 4), "0123");
  EXPECT_EQ(recording::Calls.back(), "FT_Read 4");
  EXPECT_EQ(recording::Queued(), "456789");
  EXPECT_EQ(buffer_[4], 0xEE) << "nothing past the capacity is touched";
}

TEST_F(FtdiRead, ACapacityQueuedAtOnceIsReadWithoutTheSettle) {
  recording::Script.Arrivals = {{1005, "0123"}, {1006, "45"}};
  EXPECT_EQ(Read(100, 4), "0123");
  EXPECT_EQ(recording::Now, 1005u) << "waiting could not have added a byte";
  EXPECT_EQ(Read(100, 4), "45") << "what came after is the next read's";
}

TEST_F(FtdiRead, LibraryFailuresGiveZero) {
  recording::Script.Arrivals = {{0, "data"}};
  recording::Script.ReadStatus = 4;
  EXPECT_EQ(channel_.DevRead(dev_, buffer_.data(), 100, 16), 0);

  recording::Reset();
  recording::Script.Arrivals = {{0, "data"}};
  recording::Script.StatusResult = 4;  // the device has gone: no point waiting
  EXPECT_EQ(channel_.DevRead(dev_, buffer_.data(), 1000, 16), 0);
  EXPECT_EQ(recording::Calls, Calls{"FT_GetStatus"});

  recording::Reset();
  recording::Script.Arrivals = {{0, "data"}};
  recording::Script.ClaimedExtra = 1000;  // a count beyond what was asked is not believed
  EXPECT_EQ(channel_.DevRead(dev_, buffer_.data(), 100, 16), 4);
}

TEST(MakerRead, OneLibraryReadOfAtMostTheCapacityWhateverTheTimeoutAndStatus) {
  recording::Reset();
  auto ql = recording::QlTable();
  const TDeviceChannel channel(nullptr, ql.get(), recording::Clock());
  TDevEntry dev("12", 3, 1);
  dev.QlHandle = recording::kQlHandle;
  std::array<uint8_t, 16> buffer{};
  for (const uint32_t timeout : {0u, 5000u}) {
    recording::Calls.clear();
    recording::Script.Arrivals = {{0, "0123456789"}};
    recording::Script.ReadStatus = 7;  // the status is not looked at
    EXPECT_EQ(channel.DevRead(dev, buffer.data(), timeout, 8), 8);
    EXPECT_EQ(recording::Calls, Calls{"QL_ReadNotTimeOut 8 preset 0"});
    EXPECT_EQ(recording::Queued(), "89");
    recording::Calls.clear();
    EXPECT_EQ(channel.DevRead(dev, buffer.data(), timeout, 8), 2);
  }
  recording::Script.Arrivals = {{0, "abc"}};
  recording::Script.ClaimedExtra = 100;
  EXPECT_EQ(channel.DevRead(dev, buffer.data(), 0, 8), 8);
  recording::Reset();
}

// The pause wakes early by the lateness it has seen and waits out the rest; whatever the
// machine does, it must never come back before the time asked, or the device gets its parts
// too close together.
TEST(ChannelPause, NeverEndsBeforeTheTimeAsked) {
  using Clock = std::chrono::steady_clock;
  for (const uint32_t ms : {1U, 2U, 5U}) {
    for (int i = 0; i < 60; ++i) {
      const Clock::time_point start = Clock::now();
      TChannelClock::SleepMs(ms);
      ASSERT_GE(Clock::now() - start, std::chrono::milliseconds(ms)) << ms << " ms, pause " << i;
    }
  }
}

}  // namespace
}  // namespace updater
