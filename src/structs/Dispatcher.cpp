#include "Dispatcher.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "WorkerThread.h"

namespace updater {

namespace {

constexpr std::chrono::milliseconds kPredPoll{5};

}  // namespace

bool TDispatcher::RunSync(std::function<void()> step) {
  auto call = std::make_shared<Call>();
  call->step = std::move(step);
  call->sync = true;
  {
    std::lock_guard lock(mutex_);
    if (shutting_down_) {
      return false;
    }
    queue_.push_back(call);
  }
  changed_.notify_all();
  Wake();
  std::exception_ptr error;
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return call->done; });
    error = std::move(call->error);
  }
  if (error) {
    std::rethrow_exception(error);
  }
  return true;
}

void TDispatcher::Post(std::function<void()> step) {
  auto call = std::make_shared<Call>();
  call->step = std::move(step);
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(call));
  }
  changed_.notify_all();
  Wake();
}

int TDispatcher::ProcessPending() {
  int count = 0;
  for (;;) {
    std::shared_ptr<Call> call;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) {
        return count;
      }
      call = std::move(queue_.front());
      queue_.pop_front();
    }
    ++count;
    if (call->sync) {
      try {
        call->step();
      } catch (...) {
        call->error = std::current_exception();
      }
      {
        // The waiting worker keeps the last reference, so the call (and any exception in it)
        // is released on the worker's thread, never raced by the main thread's release.
        std::lock_guard lock(mutex_);
        call->done = true;
        call.reset();
      }
      changed_.notify_all();
    } else {
      // End handlers run in the main thread like any event handler: an escaping exception is
      // the caller's (the event loop's) to show.
      call->step();
    }
  }
}

bool TDispatcher::PumpUntil(const std::function<bool()>& pred, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    ProcessPending();
    if (pred()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return pred();
    }
    // Woken by a queued step; pred may also turn on things workers do without queuing
    // anything (their lines, their progress), so it is looked at again every few ms.
    std::unique_lock lock(mutex_);
    if (queue_.empty()) {
      changed_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + kPredPoll));
    }
  }
}

void TDispatcher::Shutdown() {
  std::vector<TWorkerThread*> running;
  {
    std::lock_guard lock(mutex_);
    shutting_down_ = true;
    running.assign(workers_.begin(), workers_.end());
  }
  for (TWorkerThread* worker : running) {
    worker->Terminate();
  }
  for (;;) {
    ProcessPending();
    std::unique_lock lock(mutex_);
    if (workers_.empty() && queue_.empty()) {
      return;
    }
    if (queue_.empty()) {
      changed_.wait(lock, [&] { return !queue_.empty() || workers_.empty(); });
    }
  }
}

bool TDispatcher::ShuttingDown() const {
  std::lock_guard lock(mutex_);
  return shutting_down_;
}

size_t TDispatcher::LiveWorkers() const {
  std::lock_guard lock(mutex_);
  return workers_.size();
}

void TDispatcher::Register(TWorkerThread* worker) {
  std::lock_guard lock(mutex_);
  workers_.insert(worker);
}

void TDispatcher::Unregister(TWorkerThread* worker) {
  {
    std::lock_guard lock(mutex_);
    workers_.erase(worker);
  }
  changed_.notify_all();
}

}  // namespace updater
