#pragma once
// Base of the two worker kinds (the scan thread and the write jobs), on std::thread.
//
// Life of a worker: created on the main thread, configured (OnTerminate, FreeOnTerminate),
// then Start()ed. Execute() runs on its own thread; it reaches the main thread only through
// Synchronize(). When Execute() returns, the end handler is posted to the main thread, which
// joins the thread, runs OnTerminate and, with FreeOnTerminate, deletes the object. Shutdown
// of the dispatcher waits for all of this, so no worker outlives the window.

#include <atomic>
#include <functional>
#include <thread>

#include "Dispatcher.h"
#include "LogSink.h"

namespace updater {

class TWorkerThread {
 public:
  explicit TWorkerThread(TDispatcher& dispatcher) : dispatcher_(dispatcher) {}
  virtual ~TWorkerThread();
  TWorkerThread(const TWorkerThread&) = delete;
  TWorkerThread& operator=(const TWorkerThread&) = delete;

  // Main thread, once.
  void Start();

  // Any thread: asks the body to stop at its next check.
  void Terminate() noexcept { terminated_.store(true); }
  bool Terminated() const noexcept { return terminated_.load(); }

  // Set before Start(); run on the main thread after Execute() has returned.
  std::function<void(TWorkerThread*)> OnTerminate;
  bool FreeOnTerminate = true;

 protected:
  virtual void Execute() = 0;

  // Runs step on the main thread while this thread waits. False when the dispatcher refused
  // it (shutdown has begun); the body should then wind down.
  bool Synchronize(std::function<void()> step) { return dispatcher_.RunSync(std::move(step)); }

  // Hands one finished log line to the main thread's sink and waits until it is written, so a
  // worker's lines appear in the order it wrote them. False after shutdown has begun.
  bool HandOverLine(const TLogSink& sink, int kind, int32_t serial, std::string text) {
    return Synchronize([&] { sink(kind, serial, text); });
  }

  TDispatcher& dispatcher_;

 private:
  void Finish();  // main thread, posted by the body's end

  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

}  // namespace updater
