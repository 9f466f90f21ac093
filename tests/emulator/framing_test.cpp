// How a tracker assembles requests from the byte stream: pieces with pauses, noise in front,
// and a sender that falls silent in the middle of a frame.

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "SimTestClient.h"

namespace simtest {
namespace {

using updater::sim::TrackerMode;

struct StreamCase {
  const char* name;
  Bytes before;     // sent first
  bool pauseAfter;  // then a silence longer than the tracker's resynchronisation time
  size_t piece;     // the request goes out in pieces of this size
};

Bytes Noise(size_t n) {
  std::mt19937 gen(12345);
  Bytes b(n);
  for (auto& x : b) {
    x = static_cast<uint8_t>(gen());
  }
  return b;
}

Bytes Head(const Bytes& b, size_t n) {
  return Bytes(b.begin(), b.begin() + static_cast<long>(n));
}

class BootLoaderStream : public HostTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(BootLoaderStream, StillAnswersTheRequest) {
  const std::string serial = AddTracker("serial=8001,cpu=0x26013F37");
  auto client = Connect(serial);
  ASSERT_EQ(client->Exchange(Request(6, 10, 10 * 4096)).code(), 128);
  ASSERT_TRUE(client->Send(GetParam().before));
  if (GetParam().pauseAfter) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // What the silence made it forget is counted, so a test can tell a retry the tracker never
    // saw from one it did.
    EXPECT_GE(host_->Status(serial).forgotten, 1);
  }
  const Bytes write = WriteRequest(10, 10 * 4096, 9);
  ASSERT_TRUE(client->SendSplit(write, GetParam().piece));
  const Reply reply = client->ReadReply();
  ASSERT_EQ(reply.bytes.size(), 14u);
  EXPECT_EQ(reply.code(), 128);
  EXPECT_EQ(reply.address(), 10u * 4096);
  const auto log = host_->Requests(serial);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().raw, write);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, BootLoaderStream,
    ::testing::Values(StreamCase{"pieces_of_64", {}, false, 64},
                      StreamCase{"single_bytes", {}, false, 1},
                      StreamCase{"text_in_front", Text("hello, tracker"), false, 64},
                      StreamCase{"partial_frame_then_silence",
                                 Head(WriteRequest(11, 11 * 4096, 1), 200), true, 64},
                      StreamCase{"half_header_then_silence", Head(Request(4), 3), true, 526},
                      StreamCase{"random_noise_then_silence", Noise(5000), true, 64}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(HostTest, FirmwareFindsCommandBehindNoiseAndInPieces) {
  const std::string serial = AddTracker("serial=8002,mode=firmware");
  auto client = Connect(serial, TrackerMode::Firmware);
  Bytes stream = Noise(300);
  stream.push_back('F');  // a false start of the command
  const Bytes command = Text("FL_READ_VERSION$");
  stream.insert(stream.end(), command.begin(), command.end());
  ASSERT_TRUE(client->SendSplit(stream, 5));
  const Bytes reply = client->ReadText();
  EXPECT_EQ(reply, Text("ROZI-1.15"));
}

}  // namespace
}  // namespace simtest
