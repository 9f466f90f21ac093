#pragma once
// The worker dispatcher on Qt's event loop: every queued step wakes the main thread with a
// queued call of ProcessPending, so end handlers and synchronous calls of the workers run
// between ordinary events.
//
// Threads: constructed on the main thread, whose event loop then serves it; Wake may be
// called from any thread.

#include <QObject>

#include "Dispatcher.h"

namespace updater {

class TQtDispatcher : public TDispatcher {
 public:
  TQtDispatcher();
  ~TQtDispatcher() override;

 protected:
  void Wake() override;

 private:
  void Serve();

  // Receiver of the queued calls; lives in the main thread. Calls still queued when it is
  // destroyed are dropped with it.
  QObject context_;
};

}  // namespace updater
