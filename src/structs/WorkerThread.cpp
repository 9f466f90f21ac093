#include "WorkerThread.h"

#include <sys/prctl.h>

namespace updater {

TWorkerThread::~TWorkerThread() {
  // Only reached after Finish() joined the thread, or for a worker never started.
  if (thread_.joinable()) {
    thread_.join();
  }
}

void TWorkerThread::Start() {
  dispatcher_.Register(this);
  thread_ = std::thread([this] {
    // Workers pace the devices with 1 ms sleeps; the default timer slack of 50 us would
    // stretch every one of them by about 5%.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    try {
      Execute();
    } catch (...) {
      // A body reports failures through its own fields; nothing may escape a thread.
    }
    dispatcher_.Post([this] { Finish(); });
  });
}

void TWorkerThread::Finish() {
  thread_.join();
  dispatcher_.Unregister(this);
  // Moved out first: the handler may destroy this worker, and with it the member.
  const std::function<void(TWorkerThread*)> handler = std::move(OnTerminate);
  if (handler) {
    handler(this);
  }
}

}  // namespace updater
