#include "SocketPort.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "PseudoTerminal.h"

namespace updater::sim {

bool SocketPort::Open(const std::string& dir, const std::string& serial) {
  Close();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  // Hidden, so that a listing at this moment never takes it for a device; publishing renames
  // it to the serial number once the description is in place.
  const std::string path = dir + "/." + serial + ".sock" + std::to_string(getpid());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listen_ < 0) {
    return false;
  }
  unlink(path.c_str());
  if (bind(listen_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_, 8) != 0) {
    const int saved = errno;
    close(listen_);
    listen_ = -1;
    unlink(path.c_str());
    errno = saved;
    return false;
  }
  boundPath_ = path;
  return true;
}

void SocketPort::Close() {
  DropClient();
  if (listen_ >= 0) {
    close(listen_);
    listen_ = -1;
    // Gone already once published (withdrawing removes the entry); left only after a failure.
    unlink(boundPath_.c_str());
  }
  boundPath_.clear();
}

void SocketPort::DropClient() {
  if (conn_ >= 0) {
    close(conn_);
    conn_ = -1;
  }
}

long SocketPort::ReadAvailable(uint8_t* buffer, size_t capacity) {
  if (conn_ < 0) {
    conn_ = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    return conn_ >= 0 || errno == EAGAIN || errno == EINTR || errno == ECONNABORTED ? 0 : -1;
  }
  const ssize_t n = recv(conn_, buffer, capacity, 0);
  if (n > 0) {
    return n;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
    return 0;
  }
  DropClient();  // the client closed the device; the next one may connect
  return 0;
}

bool SocketPort::WriteAll(std::span<const uint8_t> bytes, int timeoutMs) {
  size_t done = 0;
  while (done < bytes.size() && conn_ >= 0) {
    const ssize_t n = send(conn_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno != EAGAIN) {
      DropClient();
      return true;
    }
    pollfd p{conn_, POLLOUT, 0};
    if (poll(&p, 1, timeoutMs) <= 0) {
      return false;
    }
  }
  return true;
}

int SocketPort::UnreadByClient() const {
  int n = 0;
  if (conn_ < 0 || ioctl(conn_, SIOCOUTQ, &n) != 0) {
    return 0;
  }
  return n;
}

std::unique_ptr<TrackerPort> MakeTrackerPort(DriverKind kind) {
  if (kind == DriverKind::Ftdi) {
    return std::make_unique<SocketPort>();
  }
  return std::make_unique<PseudoTerminal>();
}

}  // namespace updater::sim
