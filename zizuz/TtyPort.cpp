#include "TtyPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

namespace ttyport {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int RemainingMs(int64_t deadline_ms) {
  const int64_t left = deadline_ms - NowMs();
  return static_cast<int>(std::clamp<int64_t>(left, 0, INT_MAX));
}

TIo PollReadable(int fd, int timeout_ms, short& revents) {
  revents = 0;
  const int64_t deadline = timeout_ms == kWaitForever ? 0 : NowMs() + timeout_ms;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int wait = timeout_ms == kWaitForever ? -1 : RemainingMs(deadline);
    const int ready = ::poll(&p, 1, wait);
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      return TIo::kGone;
    }
    if (ready == 0) {
      return TIo::kTimeout;
    }
    revents = p.revents;
    return TIo::kOk;
  }
}

TIo ReadNow(int fd, uint8_t* buffer, size_t capacity, size_t& got, bool& ended) {
  got = 0;
  ended = false;
  while (got < capacity) {
    const ssize_t n = ::read(fd, buffer + got, capacity - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return TIo::kOk;
    }
    ended = true;
    return got != 0 ? TIo::kOk : TIo::kGone;
  }
  return TIo::kOk;
}

TIo WriteWithin(int fd, bool socket, const uint8_t* data, size_t length, int timeout_ms,
                size_t& written, bool& ended) {
  written = 0;
  ended = false;
  const int64_t deadline = timeout_ms == kWaitForever ? 0 : NowMs() + timeout_ms;
  while (written < length) {
    const ssize_t n = socket ? ::send(fd, data + written, length - written, MSG_NOSIGNAL)
                             : ::write(fd, data + written, length - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      ended = true;
      return TIo::kGone;
    }
    const int wait = timeout_ms == kWaitForever ? -1 : RemainingMs(deadline);
    if (wait == 0) {
      return TIo::kTimeout;
    }
    pollfd p{fd, POLLOUT, 0};
    const int ready = ::poll(&p, 1, wait);
    if (ready < 0 && errno != EINTR) {
      ended = true;
      return TIo::kGone;
    }
    if (ready == 0) {
      return TIo::kTimeout;
    }
    if (ready > 0 && (p.revents & POLLOUT) == 0) {
      ended = true;
      return TIo::kGone;
    }
  }
  return TIo::kOk;
}

std::unique_ptr<TTtyPort> TTtyPort::Open(const std::string& path) {
  // Non-blocking so that neither open (carrier) nor any read or write can wait unbounded.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return nullptr;
  }
  // errno of the failing call outlives the close, so that a caller can tell why.
  const auto fail = [fd] {
    const int error = errno;
    ::close(fd);
    errno = error;
    return nullptr;
  };
  termios mode{};
  if (!::isatty(fd) || ::tcgetattr(fd, &mode) != 0) {
    return fail();
  }
  ::cfmakeraw(&mode);
  mode.c_cflag |= CLOCAL | CREAD;
  if (::tcsetattr(fd, TCSANOW, &mode) != 0) {
    return fail();
  }
  return std::unique_ptr<TTtyPort>(new TTtyPort(fd));
}

TTtyPort::~TTtyPort() {
  ::close(fd_);
}

TIo TTtyPort::MarkGone() {
  gone_ = true;
  return TIo::kGone;
}

TIo TTtyPort::WaitReadable(int timeout_ms) {
  if (gone_) {
    return TIo::kGone;
  }
  short revents = 0;
  const TIo io = PollReadable(fd_, timeout_ms, revents);
  if (io == TIo::kTimeout) {
    return io;
  }
  if (io == TIo::kOk && (revents & POLLIN) != 0) {
    return TIo::kOk;  // read what is there even when a hang-up follows it
  }
  return MarkGone();  // POLLHUP, POLLERR, POLLNVAL
}

TIo TTtyPort::ReadAvailable(uint8_t* buffer, size_t capacity, size_t& got) {
  got = 0;
  if (gone_) {
    return TIo::kGone;
  }
  // End of file is a tty that has hung up; EIO a vanished device or a closed master.
  bool ended = false;
  const TIo result = ReadNow(fd_, buffer, capacity, got, ended);
  if (ended) {
    MarkGone();
  }
  return result;
}

TIo TTtyPort::Write(const uint8_t* data, size_t length, int timeout_ms, size_t& written) {
  written = 0;
  if (gone_) {
    return TIo::kGone;
  }
  bool ended = false;
  const TIo result = WriteWithin(fd_, false, data, length, timeout_ms, written, ended);
  if (ended) {
    MarkGone();
  }
  return result;
}

bool TTtyPort::QueuedInput(uint32_t& count) {
  count = 0;
  if (!Alive()) {
    return false;
  }
  int queued = 0;
  if (::ioctl(fd_, FIONREAD, &queued) != 0) {
    MarkGone();
    return false;
  }
  count = static_cast<uint32_t>(std::max(queued, 0));
  return true;
}

bool TTtyPort::Alive() {
  if (gone_) {
    return false;
  }
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, 0) < 0) {
    return errno == EINTR;
  }
  // A hang-up with input still queued leaves that input readable; report the loss after it.
  if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (p.revents & POLLIN) == 0) {
    MarkGone();
    return false;
  }
  return true;
}

void TTtyPort::Purge(bool input, bool output) {
  if (input && output) {
    ::tcflush(fd_, TCIOFLUSH);
  } else if (input) {
    ::tcflush(fd_, TCIFLUSH);
  } else if (output) {
    ::tcflush(fd_, TCOFLUSH);
  }
}

}  // namespace ttyport
