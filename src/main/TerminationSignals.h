#pragma once
// SIGTERM and SIGINT end the program the way the window's close button does, so that the
// shutdown sequence runs. The signal handler only writes a byte into a socket pair; the main
// thread's event loop reads it and runs the action there.
//
// Threads: constructed and destroyed on the main thread; one instance at a time.

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace updater {

class TTerminationSignals : public QObject {
 public:
  explicit TTerminationSignals(std::function<void()> on_signal);
  ~TTerminationSignals() override;
  TTerminationSignals(const TTerminationSignals&) = delete;
  TTerminationSignals& operator=(const TTerminationSignals&) = delete;

 private:
  void Drain();

  std::function<void()> on_signal_;
  int fds_[2] = {-1, -1};  // [0] read by the main thread, [1] written by the handler
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace updater
