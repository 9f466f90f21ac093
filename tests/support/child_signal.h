#pragma once
// Signals a child process a test started with QProcess.
//
// QProcess gives 0 as the id of a child that is no longer running, and kill(0, …) signals the
// caller's whole process group: the test, and ctest and the shell that started it. A child that
// has already ended therefore gets nothing, and the caller is told so it can fail the test.

#include <signal.h>
#include <sys/types.h>

#include <QProcess>

namespace test {

// True when the signal was sent to the running child.
inline bool SignalChild(const QProcess& child, int signal) {
  const qint64 pid = child.processId();
  return pid > 0 && ::kill(static_cast<pid_t>(pid), signal) == 0;
}

}  // namespace test
