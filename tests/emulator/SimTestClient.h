#pragma once
// The test side of a virtual tracker: requests built by the tests' own helpers (not the
// model's), a client that opens the published device like a driver library would, and a
// fixture with a host publishing into a temporary directory.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "TrackerHost.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

uint16_t Sum16(const Bytes& bytes);
// A request frame: header, optional data, checksum over the whole frame.
Bytes Request(uint16_t code, uint16_t sector = 10, uint32_t address = 0, const Bytes& data = {});
Bytes WriteRequest(uint16_t sector, uint32_t address, uint8_t fill, uint16_t code = 7);
Bytes Text(const std::string& text);

struct Reply {
  Bytes bytes;
  uint16_t total() const { return Field16(0); }
  uint16_t header() const { return Field16(2); }
  uint16_t code() const { return Field16(4); }
  uint16_t sector() const { return Field16(6); }
  uint32_t address() const;
  std::string PayloadText() const;
  uint16_t Field16(size_t at) const;
};

class Client {
 public:
  explicit Client(const std::string& path);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  bool Send(const Bytes& bytes);
  // Sends in pieces of `piece` bytes with a 1 ms pause between them.
  bool SendSplit(const Bytes& bytes, size_t piece);
  // Reads until `count` bytes arrived or `timeout` passed.
  Bytes ReadExactly(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(3));
  // Reads one reply frame: its header says how long it is.
  Reply ReadReply();
  // Reads whatever arrives until the line has been quiet for `quiet` after the first byte.
  Bytes ReadText(std::chrono::milliseconds quiet = std::chrono::milliseconds(100));
  // Sends a request and reads its reply.
  Reply Exchange(const Bytes& request);
  // True once the device has gone away under the open descriptor (read fails or hangs up).
  bool SeesHangUp();

 private:
  int fd_ = -1;
};

// A host publishing into a temporary directory, with the tracker events collected.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Adds the tracker described by `tracker_text` (the command-line form) and starts the host.
  std::string AddTracker(const std::string& tracker_text);
  updater::sim::TrackerConfig Config(const std::string& tracker_text);
  // Waits until the tracker is published in `mode` and opens its entry.
  std::unique_ptr<Client> Connect(
      const std::string& serial,
      updater::sim::TrackerMode mode = updater::sim::TrackerMode::BootLoader);
  std::vector<std::string> Events();

  std::string dir_;
  updater::sim::HostOptions options_;
  std::unique_ptr<updater::sim::TrackerHost> host_;
  std::mutex eventsMutex_;
  std::vector<std::string> events_;
};

std::string MakeTempDir();
void RemoveTree(const std::string& dir);
bool IsSymlink(const std::string& path);
std::string LinkTarget(const std::string& path);
std::string ReadFile(const std::string& path);

}  // namespace simtest
