// A tracker running its firmware: the two text commands, and the re-plug into the boot loader.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "SimTestClient.h"

namespace simtest {
namespace {

using updater::sim::TrackerMode;

struct StartCase {
  std::string start;
  std::string reply;  // empty: no answer
  bool replugs;
};

class FirmwareStart : public HostTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(FirmwareStart, AnswersStartCommand) {
  const std::string serial = AddTracker("serial=5001,mode=firmware,start=" + GetParam().start);
  auto client = Connect(serial, TrackerMode::Firmware);
  const std::string entry = host_->Status(serial).entryPath;
  ASSERT_TRUE(client->Send(Text("START_BOOT_LOADER")));
  if (GetParam().reply.empty()) {
    // Silence: the next command is answered first.
    ASSERT_TRUE(client->Send(Text("FL_READ_VERSION$")));
  }
  const Bytes got = client->ReadText();
  const std::string expected = GetParam().reply.empty() ? "ROZI-1.15" : GetParam().reply;
  EXPECT_EQ(got, Bytes(expected.begin(), expected.end()));
  if (!GetParam().replugs) {
    EXPECT_EQ(host_->Status(serial).mode, TrackerMode::Firmware);
    return;
  }
  // Re-plug: the entry goes away, the pseudo-terminal hangs up, and the tracker comes back in
  // its boot loader under the same entry name.
  ASSERT_TRUE(host_->WaitUnplugged(serial));
  EXPECT_TRUE(client->SeesHangUp());
  ASSERT_TRUE(host_->WaitPlugged(serial, TrackerMode::BootLoader));
  EXPECT_TRUE(IsSymlink(entry));
  Client again(entry);
  const Reply reply = again.Exchange(Request(4));
  EXPECT_EQ(reply.code(), 128);
  EXPECT_EQ(reply.PayloadText(), "ROZI-1.15");
  const auto events = Events();
  EXPECT_NE(std::find(events.begin(), events.end(), "withdrawn " + serial), events.end());
}

INSTANTIATE_TEST_SUITE_P(StartReplies, FirmwareStart,
                         ::testing::Values(StartCase{"ok", "STARTED", true},
                                           StartCase{"error", "START ERROR", false},
                                           StartCase{"lower", "started", false},
                                           StartCase{"garbage", "\x01\xFE?#\x7Fx", false},
                                           StartCase{"silent", "", false}),
                         [](const auto& p) { return p.param.start; });

// A waiter woken by the start command's removal plugs the tracker back at once, long before
// the automatic re-plug is due; the tracker must come back now, in its boot loader.
TEST_F(HostTest, PlugRightAfterTheStartCommandsRemovalIsNotPutOff) {
  using namespace std::chrono_literals;
  options_.replugMs = 60000;
  std::jthread plugger;
  std::atomic<bool> fired = false;
  std::atomic<bool> plugging = false;
  std::atomic<bool> back = false;
  options_.onEvent = [&](const std::string& line) {
    if (line != "withdrawn 5003" || fired.exchange(true)) {
      return;
    }
    plugger = std::jthread([&] {
      plugging = true;
      back = host_->Plug("5003", 10s);
    });
    // Hold the tracker's own thread in its removal while the plug lands.
    while (!plugging) {
      std::this_thread::yield();
    }
    std::this_thread::sleep_for(50ms);
  };
  host_ = std::make_unique<updater::sim::TrackerHost>(options_);
  const std::string serial = AddTracker("serial=5003,mode=firmware,start=ok");
  auto client = Connect(serial, TrackerMode::Firmware);
  EXPECT_TRUE(client->Send(Text("START_BOOT_LOADER")));
  EXPECT_TRUE(host_->WaitPlugged(serial, TrackerMode::BootLoader, 10s));
  plugger = {};   // the plug may still be returning
  host_.reset();  // ends the tracker's thread while the hook's captures are alive
  EXPECT_TRUE(fired);
  EXPECT_TRUE(back);
}

struct VersionCase {
  std::string option;
  std::string reply;
};

class FirmwareVersion : public HostTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(FirmwareVersion, AnswersVersionCommandEvenBehindAFrame) {
  const std::string serial =
      AddTracker("serial=5002,mode=firmware,fw=VTQL-9.12,version=" + GetParam().option);
  auto client = Connect(serial, TrackerMode::Firmware);
  // The scan asks the boot-loader question first; the firmware must ignore it.
  ASSERT_TRUE(client->Send(Request(4)));
  ASSERT_TRUE(client->Send(Text("FL_READ_VERSION$")));
  if (GetParam().reply.empty()) {
    ASSERT_TRUE(client->Send(Text("START_BOOT_LOADER")));
  }
  const Bytes got = client->ReadText();
  const std::string expected = GetParam().reply.empty() ? "STARTED" : GetParam().reply;
  EXPECT_EQ(got, Bytes(expected.begin(), expected.end()));
}

INSTANTIATE_TEST_SUITE_P(VersionReplies, FirmwareVersion,
                         ::testing::Values(VersionCase{"full", "VTQL-9.12"},
                                           VersionCase{"short", "VTQL-9."},
                                           VersionCase{"silent", ""}),
                         [](const auto& p) { return p.param.option; });

}  // namespace
}  // namespace simtest
