// The event log: lines from any thread, never waiting for the consumers, handed over on the
// main thread in the order they were added.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "EventLog.h"
#include "session_rig.h"

namespace session_test {
namespace {

using namespace updater;

TEST(EventLog, LinesFromManyThreadsKeepEachThreadsOrderAndMainThreadLinesComeAtOnce) {
  TEventLog log;
  std::vector<std::string> seen;
  QObject::connect(&log, &TEventLog::Line,
                   [&seen](int, const std::string& line) { seen.push_back(line); });
  constexpr int kThreads = 4;
  constexpr int kLines = 2000;
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int t = 1; t <= kThreads; ++t) {
    threads.emplace_back([&log, &done, t] {
      for (int i = 0; i < kLines; ++i) {
        log.Add(kLogNormal, t, std::to_string(i));
      }
      ++done;
    });
  }
  // Meanwhile the main thread's own lines appear as soon as they are added (after the lines
  // the workers added before it, and maybe some they add meanwhile).
  log.Add(kLogError, 0, "main");
  EXPECT_NE(std::find(seen.begin(), seen.end(), "Прибор -------\tmain"), seen.end());
  for (std::thread& thread : threads) {
    thread.join();
  }
  ASSERT_TRUE(Eventually([&] { return seen.size() == kThreads * kLines + 1; }));
  std::vector<int> next(kThreads + 1, 0);
  for (const std::string& line : seen) {
    if (line == "Прибор -------\tmain") {
      continue;
    }
    const int thread = std::stoi(line.substr(line.find(' ') + 1));
    const int number = std::stoi(line.substr(line.find('\t') + 1));
    ASSERT_EQ(number, next[thread]) << "thread " << thread;
    ++next[thread];
  }
}

TEST(EventLog, ALineAddedByAConsumerFollowsTheLineItWasHandedAndNothingIsLost) {
  TEventLog log;
  std::vector<std::string> seen;
  QObject::connect(&log, &TEventLog::Line, [&](int, const std::string& line) {
    seen.push_back(line);
    if (line.ends_with("first")) {
      log.Add(kLogError, 0, "told");  // as the daily file tells its failure
    }
  });
  std::thread worker([&log] { log.Add(kLogNormal, 7, "queued"); });
  worker.join();
  log.Add(kLogNormal, 0, "first");
  log.Add(kLogNormal, 0, "second");
  EXPECT_EQ(seen, (std::vector<std::string>{"Прибор       7\tqueued", "Прибор -------\tfirst",
                                            "Прибор -------\ttold", "Прибор -------\tsecond"}));
}

}  // namespace
}  // namespace session_test
