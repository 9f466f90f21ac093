#include "PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace updater::sim {

namespace {
void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
}
}  // namespace

bool PseudoTerminal::Open() {
  Close();
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    master_ = slave_ = -1;
    return false;
  }
  MakeRaw(slave_);
  MakeRaw(master_);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  slavePath_ = name;
  return true;
}

void PseudoTerminal::Close() {
  if (master_ >= 0) {
    close(master_);
  }
  if (slave_ >= 0) {
    close(slave_);
  }
  master_ = slave_ = -1;
  slavePath_.clear();
}

long PseudoTerminal::ReadAvailable(uint8_t* buffer, size_t capacity) {
  ssize_t n = read(master_, buffer, capacity);
  if (n < 0) {
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
  }
  return n;
}

bool PseudoTerminal::WriteAll(std::span<const uint8_t> bytes, int timeoutMs) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    }
    pollfd p{master_, POLLOUT, 0};
    if (poll(&p, 1, timeoutMs) <= 0) {
      return false;
    }
  }
  return true;
}

int PseudoTerminal::UnreadByClient() const {
  int n = 0;
  if (slave_ < 0 || ioctl(slave_, FIONREAD, &n) != 0) {
    return 0;
  }
  return n;
}

}  // namespace updater::sim
