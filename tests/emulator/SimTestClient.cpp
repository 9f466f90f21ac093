#include "SimTestClient.h"

#include <algorithm>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "TrackerSpec.h"

namespace simtest {

namespace fs = std::filesystem;
using namespace std::chrono;

uint16_t Sum16(const Bytes& b) {
  uint32_t s = 0;
  for (size_t i = 0; i < b.size(); i += 2) {
    s += b[i] + (i + 1 < b.size() ? b[i + 1] * 256u : 0u);
    s = (s & 0xFFFF) + (s >> 16);
  }
  return static_cast<uint16_t>(s);
}

Bytes Request(uint16_t code, uint16_t sector, uint32_t address, const Bytes& data) {
  const size_t total = 14 + data.size();
  Bytes f = {static_cast<uint8_t>(total),
             static_cast<uint8_t>(total >> 8),
             14,
             0,
             static_cast<uint8_t>(code),
             static_cast<uint8_t>(code >> 8),
             static_cast<uint8_t>(sector),
             static_cast<uint8_t>(sector >> 8),
             static_cast<uint8_t>(address),
             static_cast<uint8_t>(address >> 8),
             static_cast<uint8_t>(address >> 16),
             static_cast<uint8_t>(address >> 24),
             0,
             0};
  // resize + copy rather than insert: g++ 12 at -O2 misreads the insert as out of bounds.
  f.resize(14 + data.size());
  std::copy(data.begin(), data.end(), f.begin() + 14);
  const uint16_t sum = Sum16(f);
  f[12] = static_cast<uint8_t>(sum);
  f[13] = static_cast<uint8_t>(sum >> 8);
  return f;
}

Bytes WriteRequest(uint16_t sector, uint32_t address, uint8_t fill, uint16_t code) {
  Bytes data(512);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<uint8_t>(fill + i);
  }
  return Request(code, sector, address, data);
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

uint16_t Reply::Field16(size_t at) const {
  return at + 1 < bytes.size() ? static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8)) : 0;
}

uint32_t Reply::address() const {
  return Field16(8) | (static_cast<uint32_t>(Field16(10)) << 16);
}

std::string Reply::PayloadText() const {
  std::string text;
  for (size_t i = 14; i < bytes.size() && bytes[i] != 0; ++i) {
    text += static_cast<char>(bytes[i]);
  }
  return text;
}

Client::Client(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
    // An FTDI-kind tracker: its device is a socket to connect to, as the stand-in D2XX does.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 &&
        connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      close(fd_);
      fd_ = -1;
    }
    return;
  }
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd_ >= 0) {
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
  }
}

Client::~Client() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

bool Client::Send(const Bytes& bytes) {
  return fd_ >= 0 && write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

bool Client::SendSplit(const Bytes& bytes, size_t piece) {
  for (size_t at = 0; at < bytes.size(); at += piece) {
    if (at != 0) {
      std::this_thread::sleep_for(milliseconds(1));
    }
    const size_t n = std::min(piece, bytes.size() - at);
    if (write(fd_, bytes.data() + at, n) != static_cast<ssize_t>(n)) {
      return false;
    }
  }
  return true;
}

Bytes Client::ReadExactly(size_t count, milliseconds timeout) {
  Bytes out;
  const auto deadline = steady_clock::now() + timeout;
  while (out.size() < count) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    pollfd p{fd_, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0 || !(p.revents & POLLIN)) {
      break;
    }
    uint8_t buf[1100];
    const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - out.size()));
    if (n <= 0) {
      break;
    }
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

Reply Client::ReadReply() {
  Reply r;
  r.bytes = ReadExactly(14);
  if (r.bytes.size() == 14 && r.total() > 14 && r.total() <= 1024) {
    Bytes rest = ReadExactly(r.total() - 14u);
    r.bytes.insert(r.bytes.end(), rest.begin(), rest.end());
  }
  return r;
}

Bytes Client::ReadText(milliseconds quiet) {
  Bytes out = ReadExactly(1);
  while (!out.empty()) {
    Bytes more = ReadExactly(1, quiet);
    if (more.empty()) {
      break;
    }
    out.push_back(more[0]);
  }
  return out;
}

Reply Client::Exchange(const Bytes& request) {
  EXPECT_TRUE(Send(request));
  return ReadReply();
}

bool Client::SeesHangUp() {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 3000) <= 0) {
    return false;
  }
  if (p.revents & (POLLHUP | POLLERR)) {
    return true;
  }
  uint8_t b;
  return read(fd_, &b, 1) <= 0;
}

void HostTest::SetUp() {
  dir_ = MakeTempDir();
  options_.dirs = {dir_ + "/by-id", dir_ + "/ftdi"};
  options_.replugMs = 100;
  options_.onEvent = [this](const std::string& line) {
    std::lock_guard lock(eventsMutex_);
    events_.push_back(line);
  };
  host_ = std::make_unique<updater::sim::TrackerHost>(options_);
}

void HostTest::TearDown() {
  host_.reset();
  RemoveTree(dir_);
}

updater::sim::TrackerConfig HostTest::Config(const std::string& tracker_text) {
  updater::sim::TrackerConfig config;
  std::string error;
  EXPECT_TRUE(updater::sim::ParseTrackerSpec(tracker_text, config, error)) << error;
  return config;
}

std::string HostTest::AddTracker(const std::string& tracker_text) {
  updater::sim::TrackerConfig config = Config(tracker_text);
  const std::string serial = config.serial;
  EXPECT_TRUE(host_->Add(std::move(config)));
  host_->Start();
  return serial;
}

std::unique_ptr<Client> HostTest::Connect(const std::string& serial,
                                          updater::sim::TrackerMode mode) {
  EXPECT_TRUE(host_->WaitPlugged(serial, mode));
  auto client = std::make_unique<Client>(host_->Status(serial).entryPath);
  EXPECT_TRUE(client->IsOpen());
  return client;
}

std::vector<std::string> HostTest::Events() {
  std::lock_guard lock(eventsMutex_);
  return events_;
}

std::string MakeTempDir() {
  std::string pattern = (fs::temp_directory_path() / "tracker-sim-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  EXPECT_NE(made, nullptr);
  return pattern;
}

void RemoveTree(const std::string& dir) {
  std::error_code ec;
  fs::remove_all(dir, ec);
}

bool IsSymlink(const std::string& path) {
  std::error_code ec;
  return fs::is_symlink(fs::symlink_status(path, ec));
}

std::string LinkTarget(const std::string& path) {
  std::error_code ec;
  return fs::read_symlink(path, ec).string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace simtest
