#include "QtDispatcher.h"

#include <QMetaObject>

namespace updater {

TQtDispatcher::TQtDispatcher() = default;
TQtDispatcher::~TQtDispatcher() = default;

void TQtDispatcher::Wake() {
  QMetaObject::invokeMethod(
      &context_, [this] { Serve(); }, Qt::QueuedConnection);
}

void TQtDispatcher::Serve() {
  try {
    ProcessPending();
  } catch (...) {
    // An end handler threw: the event loop shows the error. The steps queued behind it must
    // not wait for the next worker's wake-up.
    Wake();
    throw;
  }
}

}  // namespace updater
