#include "SocketLine.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace d2xxsim {

std::unique_ptr<TSocketLine> TSocketLine::Connect(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    return nullptr;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  // Non-blocking from the start, so that a tracker whose backlog is full refuses at once
  // instead of making the open wait.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return nullptr;
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<TSocketLine>(new TSocketLine(fd));
}

TSocketLine::~TSocketLine() {
  ::close(fd_);
}

TIo TSocketLine::MarkGone() {
  gone_ = true;
  return TIo::kGone;
}

int TSocketLine::Queued() const {
  int queued = 0;
  return ::ioctl(fd_, FIONREAD, &queued) == 0 ? std::max(queued, 0) : -1;
}

TIo TSocketLine::WaitReadable(int timeout_ms) {
  if (gone_) {
    return TIo::kGone;
  }
  short revents = 0;
  const TIo io = ttyport::PollReadable(fd_, timeout_ms, revents);
  if (io == TIo::kTimeout) {
    return io;
  }
  // The end of the stream is readable too: only bytes count as input.
  if (io == TIo::kOk && Queued() > 0) {
    return TIo::kOk;
  }
  return MarkGone();
}

TIo TSocketLine::ReadAvailable(uint8_t* buffer, size_t capacity, size_t& got) {
  got = 0;
  if (gone_) {
    return TIo::kGone;
  }
  // The end of the stream is the tracker gone (unplugged).
  bool ended = false;
  const TIo result = ttyport::ReadNow(fd_, buffer, capacity, got, ended);
  if (ended) {
    MarkGone();
  }
  return result;
}

TIo TSocketLine::Write(const uint8_t* data, size_t length, int timeout_ms, size_t& written) {
  written = 0;
  if (!Alive()) {
    return TIo::kGone;
  }
  bool ended = false;
  const TIo result = ttyport::WriteWithin(fd_, true, data, length, timeout_ms, written, ended);
  if (ended) {
    MarkGone();
  }
  return result;
}

bool TSocketLine::QueuedInput(uint32_t& count) {
  count = 0;
  if (gone_) {
    return false;
  }
  const int queued = Queued();
  if (queued < 0) {
    MarkGone();
    return false;
  }
  if (queued == 0 && !Alive()) {
    return false;
  }
  count = static_cast<uint32_t>(queued);
  return true;
}

bool TSocketLine::Alive() {
  if (gone_) {
    return false;
  }
  pollfd p{fd_, POLLIN | POLLRDHUP, 0};
  if (::poll(&p, 1, 0) < 0) {
    return errno == EINTR;
  }
  // A hang-up with bytes still queued leaves them readable; report the loss after them.
  if ((p.revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL)) != 0 && Queued() <= 0) {
    MarkGone();
    return false;
  }
  return true;
}

void TSocketLine::Purge(bool input) {
  uint8_t sink[256];
  while (input && ::recv(fd_, sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace d2xxsim
