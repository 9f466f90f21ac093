// The channel against both real libraries over their real lines: the test plays the device on
// the pty's master side (the maker's kind) or on the socket the stand-in D2XX connects to.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "DeviceChannel.h"
#include "loaded_libs.h"
#include "pty_device.h"

namespace updater {
namespace {

using testing_pty::TDeviceDir;
using testing_pty::TDeviceEnd;

// Publishes a device under the convention of a driver kind and points that library at the
// folder.
class Publisher {
 public:
  Publisher() {
    ::setenv("ZIZUZ_DEVICE_DIR", maker_dir_.Path().c_str(), 1);
    ::setenv("FTD2XX_SIM_DIR", ftdi_dir_.Path().c_str(), 1);
  }
  // The record the scan would make for it.
  std::unique_ptr<TDevEntry> Publish(uint32_t driver, const std::string& serial,
                                     const TDeviceEnd& device) const {
    if (driver == 0) {
      ftdi_dir_.Link(serial, device.Path());
      ftdi_dir_.WriteFile(serial + ".desc", "Veltorium Tracker");
      return std::make_unique<TDevEntry>(serial, 0xFFFF, 0);
    }
    maker_dir_.Link(testing_pty::MakerEntry(serial, 1), device.Path());
    return std::make_unique<TDevEntry>(serial, 1, 1);
  }

 private:
  TDeviceDir maker_dir_;
  TDeviceDir ftdi_dir_;
};

std::string Text(const uint8_t* bytes, int32_t n) {
  return std::string(reinterpret_cast<const char*>(bytes), n > 0 ? static_cast<size_t>(n) : 0);
}

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

class ChannelOverPty : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    ASSERT_NE(testing_pty::StandInFtdi(), nullptr);
    ASSERT_NE(testing_pty::Zizuz(), nullptr);
    dev_ = publisher_.Publish(GetParam(), "4242", *device_);
  }
  void TearDown() override {
    if (dev_) {
      channel_.DevClose(*dev_);
    }
  }
  bool IsOpen() const { return dev_->FtHandle != nullptr || dev_->QlHandle != 0; }

  Publisher publisher_;
  std::unique_ptr<TDeviceEnd> device_ = testing_pty::MakeDevice(GetParam());
  std::unique_ptr<TDevEntry> dev_;
  TDeviceChannel channel_{testing_pty::StandInFtdi(), testing_pty::Zizuz()};
  std::array<uint8_t, 80> buffer_{};
};

TEST_P(ChannelOverPty, ExchangesARequestAndItsReplyThenClosesForTheNextUse) {
  std::string request;
  for (int i = 0; i < 130; ++i) {
    request.push_back(static_cast<char>('!' + i % 90));
  }
  const std::string reply = "14-byte reply.";
  for (int use = 0; use < 2; ++use) {
    ASSERT_TRUE(channel_.DevOpen(*dev_)) << use;
    const auto bytes = Bytes(request);
    ASSERT_TRUE(channel_.DevWrite(*dev_, bytes.data(), static_cast<uint32_t>(bytes.size())));
    EXPECT_EQ(device_->Receive(request.size()), request);
    device_->Send(reply);
    const int32_t n = channel_.DevRead(*dev_, buffer_.data(), 1000, 64);
    EXPECT_EQ(Text(buffer_.data(), n), reply);
    channel_.DevClose(*dev_);
    EXPECT_FALSE(IsOpen());
  }
}

TEST_P(ChannelOverPty, AReplyLongerThanTheCapacityLeavesTheRestQueued) {
  ASSERT_TRUE(channel_.DevOpen(*dev_));
  device_->Send("0123456789abcdefghij");
  EXPECT_EQ(Text(buffer_.data(), channel_.DevRead(*dev_, buffer_.data(), 1000, 8)), "01234567");
  EXPECT_EQ(Text(buffer_.data(), channel_.DevRead(*dev_, buffer_.data(), 1000, 64)),
            "89abcdefghij");
}

TEST_P(ChannelOverPty, ASilentDeviceGivesZeroAndAZeroedBuffer) {
  ASSERT_TRUE(channel_.DevOpen(*dev_));
  buffer_.fill(0xEE);
  EXPECT_EQ(channel_.DevRead(*dev_, buffer_.data(), 30, 16), 0);
  EXPECT_EQ(buffer_[15], 0);
  EXPECT_EQ(buffer_[16], 0xEE);
}

TEST_P(ChannelOverPty, OnlyThePublishedDeviceOpens) {
  const uint32_t driver = GetParam();
  for (const char* serial : {"-1", "424", "42420", "999"}) {
    TDevEntry other(serial, driver == 0 ? 0xFFFF : 1, driver);
    EXPECT_FALSE(channel_.DevOpen(other)) << serial;
    EXPECT_EQ(other.FtHandle, nullptr);
    EXPECT_EQ(other.QlHandle, 0u);
  }
  ASSERT_TRUE(channel_.DevOpen(*dev_));
  const TDevEntry* open = dev_.get();
  EXPECT_TRUE(driver == 0 ? open->QlHandle == 0 : open->FtHandle == nullptr)
      << "only the field of the record's own driver is set";
}

// The device goes away while a read waits for it: the read fails instead of hanging, and so
// does everything after it until the record is closed.
TEST_P(ChannelOverPty, ALineVanishingMidReadFailsEveryCall) {
  ASSERT_TRUE(channel_.DevOpen(*dev_));
  if (GetParam() == 1) {
    testing_pty::Zizuz()->QL_SetTimeouts(dev_->QlHandle, 5000, 200);  // outlast the hang-up
  }
  std::thread unplug([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    device_->Hangup();
  });
  EXPECT_EQ(channel_.DevRead(*dev_, buffer_.data(), 5000, 16), 0);
  unplug.join();
  const auto bytes = Bytes("FL_READ_VERSION$");
  EXPECT_FALSE(channel_.DevWrite(*dev_, bytes.data(), static_cast<uint32_t>(bytes.size())));
  EXPECT_EQ(channel_.DevRead(*dev_, buffer_.data(), 50, 16), 0);
  channel_.DevClose(*dev_);
  EXPECT_FALSE(IsOpen());
}

INSTANTIATE_TEST_SUITE_P(BothLibraries, ChannelOverPty, ::testing::Values(0u, 1u),
                         [](const auto& p) { return p.param == 0 ? "Ftdi" : "Maker"; });

// Several devices of both kinds, each on a thread of its own, through one channel.
TEST(ChannelThreads, DevicesOnDifferentThreadsDoNotDisturbEachOther) {
  ASSERT_NE(testing_pty::StandInFtdi(), nullptr);
  ASSERT_NE(testing_pty::Zizuz(), nullptr);
  const Publisher publisher;
  const TDeviceChannel channel(testing_pty::StandInFtdi(), testing_pty::Zizuz());
  constexpr int kDevices = 4;
  std::vector<std::unique_ptr<TDeviceEnd>> devices;
  std::vector<std::unique_ptr<TDevEntry>> records;
  for (int i = 0; i < kDevices; ++i) {
    devices.push_back(testing_pty::MakeDevice(i % 2));
    records.push_back(publisher.Publish(i % 2, std::to_string(100 + i), *devices.back()));
  }
  std::array<int, kDevices> good_exchanges{};
  std::vector<std::thread> threads;
  for (int i = 0; i < kDevices; ++i) {
    threads.emplace_back([&, i] {
      TDevEntry& dev = *records[i];
      if (!channel.DevOpen(dev)) {
        return;
      }
      std::array<uint8_t, 64> reply{};
      for (int round = 0; round < 20; ++round) {
        const std::string request(70, static_cast<char>('a' + i));
        const std::string answer =
            "device " + std::to_string(i) + " round " + std::to_string(round);
        const auto bytes = Bytes(request);
        const bool sent = channel.DevWrite(dev, bytes.data(), 70);
        const bool heard = devices[i]->Receive(70) == request;
        devices[i]->Send(answer);
        const int32_t n = channel.DevRead(dev, reply.data(), 1000, 64);
        good_exchanges[i] += sent && heard && Text(reply.data(), n) == answer ? 1 : 0;
      }
      channel.DevClose(dev);
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  for (int i = 0; i < kDevices; ++i) {
    EXPECT_EQ(good_exchanges[i], 20) << "device " << i;
  }
}

}  // namespace
}  // namespace updater
