#include "EventLog.h"

#include <QMetaObject>
#include <QThread>
#include <cstdarg>

#include "TextFormat.h"

namespace updater {

TEventLog::TEventLog(QObject* parent) : QObject(parent) {}

TEventLog::~TEventLog() = default;

std::string TEventLog::Prefix(int32_t serial) {
  if (serial == 0) {
    return "Прибор -------\t";
  }
  return Format("Прибор %7d\t", serial);
}

bool TEventLog::OnLogThread() const {
  return QThread::currentThread() == thread();
}

void TEventLog::Add(int kind, int32_t serial, const std::string& text) {
  std::string line = Prefix(serial);
  line += text;
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    pending_.push_back({kind, std::move(line)});
    if (!wake_posted_) {
      wake_posted_ = true;
      wake = true;
    }
  }
  if (OnLogThread()) {
    Flush();
  } else if (wake) {
    QMetaObject::invokeMethod(this, &TEventLog::Flush, Qt::QueuedConnection);
  }
}

void TEventLog::AddFormatted(int kind, int32_t serial, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  Add(kind, serial, text);
}

TLogSink TEventLog::Sink() {
  return [this](int kind, int32_t serial, const std::string& text) { Add(kind, serial, text); };
}

std::optional<TEventLog::TPending> TEventLog::TakeNext() {
  std::lock_guard lock(mutex_);
  if (pending_.empty()) {
    wake_posted_ = false;
    return std::nullopt;
  }
  TPending next = std::move(pending_.front());
  pending_.pop_front();
  return next;
}

void TEventLog::Flush() {
  if (flushing_) {
    return;  // the loop below takes the new line after the one it is handing over
  }
  flushing_ = true;
  try {
    while (std::optional<TPending> next = TakeNext()) {
      emit Line(next->kind, next->line);
    }
  } catch (...) {
    // A consumer threw: the lines behind its line are still handed over, after the event loop
    // has shown the error.
    flushing_ = false;
    QMetaObject::invokeMethod(this, &TEventLog::Flush, Qt::QueuedConnection);
    throw;
  }
  flushing_ = false;
}

}  // namespace updater
