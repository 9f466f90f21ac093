#pragma once
// SIGTERM and SIGINT end the program through its own shutdown sequence (the window: as its close
// button does; the headless station: running jobs finish first). The signal handler only writes
// a byte into a socket pair; the main thread's event loop reads it and runs the action there,
// once for the signals that came since it last ran.
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
