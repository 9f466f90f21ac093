#pragma once
// The main thread's end of the worker protocol.
//
// Workers never touch widgets. They hand a step to the main thread and wait for it only where a
// result must come back (RunSync: the image load at the start of a job); their log lines and
// progress go without waiting (the event log, posted steps); after their body they post their
// end handler (Post). The program drives this from Qt's event loop (Wake queues a call of
// ProcessPending); tests drive it with PumpUntil.
//
// Shutdown: a synchronous call into the main thread while the main thread waits for the
// worker would deadlock. So Shutdown() first refuses new synchronous calls (the worker sees
// false and ends its work), asks every worker to stop, keeps serving the calls and end
// handlers already queued, and returns only when every worker has ended and its end handler
// has run.
//
// Ownership: the queue and the worker registry are guarded by mutex_; steps run on the main
// thread only.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_set>

namespace updater {

class TWorkerThread;

class TDispatcher {
 public:
  TDispatcher() = default;
  virtual ~TDispatcher() = default;
  TDispatcher(const TDispatcher&) = delete;
  TDispatcher& operator=(const TDispatcher&) = delete;

  // Any thread but the main one: runs step on the main thread and waits for it. Returns false,
  // without running it, once shutdown has begun. An exception thrown by the step is rethrown
  // here, in the caller's thread.
  bool RunSync(std::function<void()> step);

  // Any thread: queues step for the main thread. Never refused.
  void Post(std::function<void()> step);

  // Main thread: runs every queued step. Returns the number run.
  int ProcessPending();

  // Main thread, for tests and shutdown: serves queued steps until pred() is true or the time
  // runs out, looking at pred() at least every few ms. Returns pred().
  bool PumpUntil(const std::function<bool()>& pred, int timeout_ms);

  // Main thread: stop every worker and wait for all of them, serving their calls meanwhile.
  void Shutdown();
  bool ShuttingDown() const;

  // Number of workers started and not yet finished with their end handler.
  size_t LiveWorkers() const;

 protected:
  // Called (from any thread, without the lock held) after a step was queued. The program
  // overrides it to wake its event loop; the default wakes PumpUntil.
  virtual void Wake() {}

 private:
  friend class TWorkerThread;
  void Register(TWorkerThread* worker);
  void Unregister(TWorkerThread* worker);

  struct Call {
    std::function<void()> step;
    bool sync = false;
    bool done = false;
    std::exception_ptr error;
  };

  mutable std::mutex mutex_;
  std::condition_variable changed_;  // a step was queued, a sync call finished, a worker ended
  std::deque<std::shared_ptr<Call>> queue_;
  std::unordered_set<TWorkerThread*> workers_;
  bool shutting_down_ = false;
};

}  // namespace updater
