#include "pty_device.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace testing_pty {

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    throw std::runtime_error(what);
  }
}

}  // namespace

TPtyDevice::TPtyDevice() {
  termios raw{};
  ::cfmakeraw(&raw);
  char name[128] = {};
  Check(::openpty(&master_, &slave_, name, &raw, nullptr) == 0, "openpty");
  tty_path_ = name;
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

TPtyDevice::~TPtyDevice() {
  Hangup();
  ::close(slave_);
}

void TPtyDevice::Send(std::string_view bytes) {
  const uint32_t before = Queued();
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
    Check(n > 0, "write to the pty master");
    sent += static_cast<size_t>(n);
  }
  // The kernel hands the bytes to the tty's queue a moment later; wait for them (5 s at most).
  for (int i = 0; i < 5000 && Queued() < before + bytes.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::string TPtyDevice::Receive(size_t n) {
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (received.size() < n && std::chrono::steady_clock::now() < deadline) {
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0 || (p.revents & POLLIN) == 0) {
      continue;
    }
    char buffer[256];
    const ssize_t got = ::read(master_, buffer, std::min(sizeof buffer, n - received.size()));
    if (got <= 0) {
      break;
    }
    received.append(buffer, static_cast<size_t>(got));
  }
  return received;
}

uint32_t TPtyDevice::Queued() const {
  int queued = 0;
  ::ioctl(slave_, FIONREAD, &queued);
  return static_cast<uint32_t>(queued);
}

void TPtyDevice::Hangup() {
  if (master_ >= 0) {
    ::close(master_);
    master_ = -1;
  }
}

TSocketDevice::TSocketDevice() {
  std::string pattern = (std::filesystem::temp_directory_path() / "sockdev-XXXXXX").string();
  Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  dir_ = pattern;
  path_ = dir_ + "/line";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  Check(path_.size() < sizeof address.sun_path, "socket path length");
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  Check(listen_ >= 0, "socket");
  Check(::bind(listen_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0, "bind");
  Check(::listen(listen_, 8) == 0, "listen");
}

TSocketDevice::~TSocketDevice() {
  Hangup();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

int TSocketDevice::Connection(bool wait_for_one) {
  for (int wait = 0; listen_ >= 0;) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, wait) > 0) {
      const int fresh = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fresh >= 0) {
        if (conn_ >= 0) {
          ::close(conn_);
        }
        conn_ = fresh;
        continue;  // a later client may be waiting too
      }
    }
    if (conn_ >= 0 || wait != 0 || !wait_for_one) {
      break;
    }
    wait = 5000;
  }
  return conn_;
}

void TSocketDevice::Send(std::string_view bytes) {
  const int fd = Connection();
  Check(fd >= 0, "no client connected");
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    Check(n > 0, "send to the client");
    sent += static_cast<size_t>(n);
  }
}

std::string TSocketDevice::Receive(size_t n) {
  std::string received;
  const int fd = Connection();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (fd >= 0 && received.size() < n && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0 || (p.revents & POLLIN) == 0) {
      continue;
    }
    char buffer[256];
    const ssize_t got = ::recv(fd, buffer, std::min(sizeof buffer, n - received.size()), 0);
    if (got <= 0) {
      break;
    }
    received.append(buffer, static_cast<size_t>(got));
  }
  return received;
}

uint32_t TSocketDevice::Queued() const {
  int queued = 0;
  if (conn_ >= 0) {
    ::ioctl(conn_, SIOCOUTQ, &queued);
  }
  return static_cast<uint32_t>(queued);
}

void TSocketDevice::Hangup() {
  if (listen_ >= 0) {
    Connection(false);  // a client still in the backlog is hung up with the rest
    ::close(listen_);
    listen_ = -1;
    ::unlink(path_.c_str());
  }
  if (conn_ >= 0) {
    ::close(conn_);
    conn_ = -1;
  }
}

std::unique_ptr<TDeviceEnd> MakeDevice(uint32_t driver) {
  if (driver == 0) {
    return std::make_unique<TSocketDevice>();
  }
  return std::make_unique<TPtyDevice>();
}

TDeviceDir::TDeviceDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "devdir-XXXXXX").string();
  Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  path_ = pattern;
}

TDeviceDir::~TDeviceDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TDeviceDir::Link(const std::string& name, const std::string& target) const {
  Check(::symlink(target.c_str(), (path_ + "/" + name).c_str()) == 0, "symlink");
}

void TDeviceDir::WriteFile(const std::string& name, const std::string& text) const {
  std::ofstream(path_ + "/" + name, std::ios::binary) << text;
}

void TDeviceDir::Remove(const std::string& name) const {
  ::unlink((path_ + "/" + name).c_str());
}

std::string MakerEntry(const std::string& serial, int interface_number) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, "-if%02x", interface_number);
  return "usb-Veltorium_Tracker_" + serial + suffix;
}

}  // namespace testing_pty
