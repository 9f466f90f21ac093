#pragma once
// Base of the two worker kinds (the scan thread and the write jobs), on std::thread.
//
// Life of a worker: created on the main thread by its owner, given OnTerminate, then
// Start()ed. Execute() runs on its own thread; it reaches the main thread only through
// Synchronize() or the dispatcher's posted steps. When Execute() returns, the end handler is
// posted to the main thread, which joins the thread and runs OnTerminate last: the handler may
// destroy the worker, and its owner usually does so there. Shutdown of the dispatcher waits for
// all of this, so no worker outlives its owner's shutdown.
//
// Ownership: never the worker itself; whoever created it frees it, after its end handler or,
// for one never started, at any time.

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

  // Set before Start(); run on the main thread after Execute() has returned and the thread is
  // joined. Nothing touches the worker after it, so it may destroy the worker.
  std::function<void(TWorkerThread*)> OnTerminate;

 protected:
  virtual void Execute() = 0;

  // Runs step on the main thread while this thread waits. False when the dispatcher refused
  // it (shutdown has begun); the body should then wind down.
  bool Synchronize(std::function<void()> step) { return dispatcher_.RunSync(std::move(step)); }

  // Hands one finished log line to a sink that takes lines from any thread without waiting
  // (the event log keeps their order). False, without handing it over, once shutdown has
  // begun: nothing more of the worker is shown then, and it should wind down.
  bool HandOverLine(const TLogSink& sink, int kind, int32_t serial, const std::string& text) {
    if (dispatcher_.ShuttingDown()) {
      return false;
    }
    if (sink) {
      sink(kind, serial, text);
    }
    return true;
  }

  TDispatcher& dispatcher_;

 private:
  void Finish();  // main thread, posted by the body's end

  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

}  // namespace updater
