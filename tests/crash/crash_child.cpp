// Crashes on purpose, in the way its first argument names, after installing the crash handlers
// with the folder its second argument names and noting numbered event log lines:
//   crash_child MODE FOLDER [LOG_LINES]
// Modes: null-write, abort, throw-past-main, worker-null-write, worker-throw, divide-by-zero,
// fault-in-handler. The crashing functions are kept out of line so that the stack names them.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "CrashReport.h"
#include "CrashTesting.h"

namespace {

volatile int* g_null = nullptr;
volatile int g_zero = 0;

__attribute__((noinline)) void CrashChildWriteThroughNull() {
  *g_null = 42;
}

__attribute__((noinline)) void CrashChildAbort() {
  std::abort();
}

__attribute__((noinline)) void CrashChildThrowPastMain() {
  throw std::runtime_error("thrown past main on purpose");
}

__attribute__((noinline)) void CrashChildWorkerWriteThroughNull() {
  *g_null = 7;
}

__attribute__((noinline)) void CrashChildWorkerThrow() {
  throw std::logic_error("thrown out of a worker on purpose");
}

__attribute__((noinline)) int CrashChildDivideByZero() {
  return 100 / g_zero;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: crash_child MODE FOLDER [LOG_LINES]\n");
    return 2;
  }
  const std::string mode = argv[1];
  if (!updater::crash::Install("crash_child", argv[2])) {
    std::fprintf(stderr, "crash handlers not installed\n");
    return 3;
  }
  const int lines = argc > 3 ? std::atoi(argv[3]) : 0;
  for (int i = 0; i < lines; ++i) {
    const std::string line = "log line <" + std::to_string(i) + ">";
    updater::crash::NoteLogLine(line.data(), line.size());
  }

  if (mode == "null-write") {
    CrashChildWriteThroughNull();
  } else if (mode == "abort") {
    CrashChildAbort();
  } else if (mode == "throw-past-main") {
    CrashChildThrowPastMain();
  } else if (mode == "worker-null-write") {
    std::thread worker(&CrashChildWorkerWriteThroughNull);
    worker.join();
  } else if (mode == "worker-throw") {
    std::thread worker(&CrashChildWorkerThrow);
    worker.join();
  } else if (mode == "divide-by-zero") {
    return CrashChildDivideByZero();
  } else if (mode == "fault-in-handler") {
    updater::crash::FaultInsideHandlerForTest();
    CrashChildWriteThroughNull();
  }
  std::fprintf(stderr, "no crash for mode %s\n", mode.c_str());
  return 4;
}
