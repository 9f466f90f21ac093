#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Dispatcher.h"
#include "WorkerThread.h"

using namespace updater;

namespace {

// A worker that hands `steps` lines to the main thread, checking its terminate flag between
// them, and records how many the main thread accepted.
class CountingWorker : public TWorkerThread {
 public:
  CountingWorker(TDispatcher& d, std::vector<std::string>& sink, int steps)
      : TWorkerThread(d), sink_(sink), steps_(steps) {}
  int accepted = 0;
  bool refused = false;

 protected:
  void Execute() override {
    for (int i = 0; i < steps_ && !Terminated(); ++i) {
      if (!Synchronize([this, i] { sink_.push_back("line " + std::to_string(i)); })) {
        refused = true;
        return;
      }
      ++accepted;
    }
  }

 private:
  std::vector<std::string>& sink_;
  int steps_;
};

}  // namespace

TEST(WorkerThread, StepsRunOnTheMainThreadInOrderThenTheEndHandler) {
  TDispatcher dispatcher;
  std::vector<std::string> lines;
  auto worker = std::make_unique<CountingWorker>(dispatcher, lines, 5);
  int ended = 0;
  int accepted_at_end = -1;
  worker->OnTerminate = [&](TWorkerThread* w) {
    ++ended;
    accepted_at_end = static_cast<CountingWorker*>(w)->accepted;
    lines.push_back("end");
  };
  worker->Start();
  ASSERT_TRUE(dispatcher.PumpUntil([&] { return dispatcher.LiveWorkers() == 0; }, 10000));
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(accepted_at_end, 5);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"line 0", "line 1", "line 2", "line 3", "line 4", "end"}));
}

TEST(WorkerThread, ExceptionOfAMainThreadStepReachesTheWorker) {
  TDispatcher dispatcher;
  struct Thrower : TWorkerThread {
    using TWorkerThread::TWorkerThread;
    std::string caught;
    void Execute() override {
      try {
        Synchronize([] { throw std::runtime_error("too big"); });
      } catch (const std::runtime_error& e) {
        caught = e.what();
      }
    }
  };
  auto worker = std::make_unique<Thrower>(dispatcher);
  std::string seen;
  worker->OnTerminate = [&](TWorkerThread* w) { seen = static_cast<Thrower*>(w)->caught; };
  worker->Start();
  ASSERT_TRUE(dispatcher.PumpUntil([&] { return dispatcher.LiveWorkers() == 0; }, 10000));
  EXPECT_EQ(seen, "too big");
}

TEST(WorkerThread, ShutdownStopsEveryWorkerWithoutDeadlockAndRunsTheirEndHandlers) {
  TDispatcher dispatcher;
  std::vector<std::string> lines;
  std::vector<std::unique_ptr<CountingWorker>> workers;
  int ended = 0;
  bool stopped_early = true;
  for (int i = 0; i < 4; ++i) {
    auto& worker =
        workers.emplace_back(std::make_unique<CountingWorker>(dispatcher, lines, 1'000'000));
    worker->OnTerminate = [&](TWorkerThread* w) {
      ++ended;
      auto* cw = static_cast<CountingWorker*>(w);
      stopped_early = stopped_early && cw->accepted < 1'000'000;
    };
    worker->Start();
  }
  // Let the workers get going, then close while they wait on the main thread.
  dispatcher.PumpUntil([&] { return lines.size() > 100; }, 10000);
  dispatcher.Shutdown();
  EXPECT_EQ(dispatcher.LiveWorkers(), 0u);
  EXPECT_EQ(ended, 4);
  EXPECT_TRUE(stopped_early);
  EXPECT_TRUE(dispatcher.ShuttingDown());
  // After shutdown nothing may reach the main thread synchronously any more.
  EXPECT_FALSE(dispatcher.RunSync([] {}));
}

TEST(WorkerThread, AThrowingEndHandlerStillReleasesTheWorker) {
  TDispatcher dispatcher;
  std::vector<std::string> lines;
  auto worker = std::make_unique<CountingWorker>(dispatcher, lines, 1);
  worker->OnTerminate = [](TWorkerThread*) { throw std::runtime_error("handler failed"); };
  worker->Start();
  EXPECT_THROW(dispatcher.PumpUntil([&] { return dispatcher.LiveWorkers() == 0; }, 10000),
               std::runtime_error);
  EXPECT_EQ(dispatcher.LiveWorkers(), 0u);
}

// Its owner frees a worker in the end handler: nothing of the worker is touched after it (the
// sanitized builds catch a touch).
TEST(WorkerThread, TheEndHandlerMayFreeTheWorker) {
  TDispatcher dispatcher;
  std::vector<std::string> lines;
  auto worker = std::make_unique<CountingWorker>(dispatcher, lines, 2);
  int accepted = -1;
  worker->OnTerminate = [&](TWorkerThread* w) {
    accepted = static_cast<CountingWorker*>(w)->accepted;
    worker.reset();
  };
  worker->Start();
  ASSERT_TRUE(dispatcher.PumpUntil([&] { return worker == nullptr; }, 10000));
  EXPECT_EQ(accepted, 2);
  EXPECT_EQ(dispatcher.LiveWorkers(), 0u);
}
