#include "UpdaterApplication.h"

#include <exception>

#include "Dialogs.h"

namespace updater {

TUpdaterApplication::TUpdaterApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TUpdaterApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    DefaultDialogs().Error(CurrentExceptionText());
    return false;
  }
}

QString CurrentExceptionText() {
  try {
    throw;
  } catch (const std::exception& error) {
    return QString::fromUtf8(error.what());
  } catch (...) {
    return {};
  }
}

}  // namespace updater
