#pragma once
// The event log: one ordered stream of finished lines ("Прибор ...\t" prefix and text) that
// any thread adds to without waiting, handed to its consumers (the window's view, the daily
// file, a headless program's output) on the main thread, in the order the lines were added.
//
// Threads: Add and Sink() from any thread; they take a short lock and, from a worker, post one
// wake-up to the main thread while none is pending. Flush, the Line signal and everything its
// consumers do run on the main thread (the thread the log lives in). A line added on the main
// thread is handed over at once, after every line added before it; one added while the lines
// are being handed over (a consumer's own line) follows the line being handed over.
//
// Ownership: the session owns the log. Workers must not outlive it: the session stops them
// first. A wake-up still queued when the log goes is dropped with it.

#include <QObject>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "LogSink.h"

namespace updater {

class TEventLog : public QObject {
  Q_OBJECT

 public:
  explicit TEventLog(QObject* parent = nullptr);
  ~TEventLog() override;

  // Any thread. kind as in TLogKind; serial 0: no device.
  void Add(int kind, int32_t serial, const std::string& text);
  void AddFormatted(int kind, int32_t serial, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  // A sink for core code that adds to this log; valid while the log lives.
  TLogSink Sink();

  // Main thread: hands every line added so far to the consumers.
  void Flush();

  // The device prefix of a line: "Прибор -------\t" for none, "Прибор %7d\t" for a device.
  static std::string Prefix(int32_t serial);

 signals:
  // Main thread, one per line, in order: the whole line with its prefix, UTF-8.
  void Line(int kind, const std::string& line);

 private:
  struct TPending {
    int kind;
    std::string line;
  };

  bool OnLogThread() const;
  std::optional<TPending> TakeNext();

  std::mutex mutex_;
  std::deque<TPending> pending_;  // guarded by mutex_
  bool wake_posted_ = false;      // guarded by mutex_
  bool flushing_ = false;         // main thread
};

}  // namespace updater
