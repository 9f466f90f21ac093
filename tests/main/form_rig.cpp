#include "form_rig.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace updater::test {

void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool PumpUntil(const std::function<bool()>& pred, int timeout_ms) {
  QDeadlineTimer deadline(timeout_ms);
  while (!pred()) {
    if (deadline.hasExpired()) {
      return pred();
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    Pump(5);
  }
  return true;
}

}  // namespace updater::test
