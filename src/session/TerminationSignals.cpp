#include "TerminationSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace updater {

namespace {

std::atomic<int> g_write_fd{-1};

extern "C" void OnTerminationSignal(int) {
  const int saved_errno = errno;
  const int fd = g_write_fd.load();
  if (fd >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved_errno;
}

void SetHandler(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(signal_number, &action, nullptr);
}

}  // namespace

TTerminationSignals::TTerminationSignals(std::function<void()> on_signal)
    : on_signal_(std::move(on_signal)) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0) {
    fds_[0] = fds_[1] = -1;
    return;  // the signals keep their default action: the program ends without its shutdown
  }
  notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &TTerminationSignals::Drain);
  g_write_fd.store(fds_[1]);
  SetHandler(SIGTERM, OnTerminationSignal);
  SetHandler(SIGINT, OnTerminationSignal);
}

TTerminationSignals::~TTerminationSignals() {
  if (fds_[1] >= 0) {
    SetHandler(SIGTERM, SIG_DFL);
    SetHandler(SIGINT, SIG_DFL);
    g_write_fd.store(-1);
    notifier_.reset();
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
}

void TTerminationSignals::Drain() {
  char bytes[64];
  while (::read(fds_[0], bytes, sizeof bytes) > 0) {
  }
  if (on_signal_) {
    on_signal_();
  }
}

}  // namespace updater
