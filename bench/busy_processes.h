#pragma once
// Processes that only spin, as other work on a loaded machine does; the benchmarks start them
// for their runs "with the machine busy". Killed and reaped with the object.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

class TBusyProcesses {
 public:
  explicit TBusyProcesses(int count) {
    for (int i = 0; i < count; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        for (;;) {
          asm volatile("" ::: "memory");  // a loop the compiler keeps
        }
      }
      if (pid > 0) {
        pids_.push_back(pid);
      }
    }
  }
  ~TBusyProcesses() {
    for (const pid_t pid : pids_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  TBusyProcesses(const TBusyProcesses&) = delete;
  TBusyProcesses& operator=(const TBusyProcesses&) = delete;

 private:
  std::vector<pid_t> pids_;
};
