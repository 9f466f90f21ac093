#include "UpdaterApplication.h"

#include <QIcon>
#include <exception>

#include "CrashReportDialog.h"
#include "Dialogs.h"

namespace updater {

TUpdaterApplication::TUpdaterApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The name is also the window's WM_CLASS, which the desktop entry's StartupWMClass names, and
  // the desktop file name lets Wayland docks match the window to the entry: menu, dock and
  // window then show one program with one icon.
  setApplicationName(QString::fromLatin1(kProgramName));
  setDesktopFileName(QString::fromLatin1(kProgramName));
  QIcon icon;
  for (const int size : kProgramIconSizes) {
    icon.addFile(QStringLiteral(":/icons/veltorium-updater-%1.png").arg(size), QSize(size, size));
  }
  setWindowIcon(icon);
}

bool TUpdaterApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    TDialogs& dialogs = dialogs_ != nullptr ? *dialogs_ : DefaultDialogs();
    dialogs.ErrorWithDetails(CurrentExceptionText(), ExceptionDetails());
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
