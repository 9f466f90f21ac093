// Program entry: crash reports, integrity check, single instance, the main window and its event
// loop.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "CrashReport.h"
#include "Dialogs.h"
#include "Integrity.h"
#include "MainForm.h"
#include "SettingsFile.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"
#include "UpdaterApplication.h"

namespace {

// Exit code of a program that found its own file damaged; every other end is 0.
constexpr int kIntegrityFailureExitCode = 1;

constexpr char kIntegrityFailureText[] =
    "Исполняемый файл программы повреждён или изменён. Программа не может быть запущена; "
    "установите её заново.";

}  // namespace

int main(int argc, char** argv) {
  // The raw bytes of every argument, taken before Qt removes the options it knows.
  const std::vector<std::string> args(argv + 1, argv + argc);
  updater::TUpdaterApplication app(argc, argv);
  // Beside the logs, as the window's session finds them; shown at the next start.
  const std::string app_path = QCoreApplication::applicationDirPath().toStdString() + '/';
  updater::crash::Install(updater::kProgramName, updater::WindowDataFolders(app_path).logs);

  try {
    if (!updater::CheckIntegrity("/proc/self/exe")) {
      updater::DefaultDialogs().Error(QString::fromUtf8(kIntegrityFailureText));
      return kIntegrityFailureExitCode;
    }

    updater::TSingleInstance instance;
    const auto lock = instance.TryLock();
    if (lock == updater::TSingleInstance::TLock::Held) {
      // Another instance runs, or is still starting and cannot answer yet: either way this
      // one ends quietly. The headless station has no window to restore: say that it holds
      // the trackers.
      QString holder;
      qint64 pid = 0;
      if (instance.Holder(holder, pid) && holder != QCoreApplication::applicationName()) {
        std::fprintf(stderr, "%s (pid %lld) holds the trackers\n", qPrintable(holder),
                     static_cast<long long>(pid));
      }
      instance.SendRestore();
      return 0;
    }
    if (lock == updater::TSingleInstance::TLock::Unavailable) {
      // Without a place for the lock the program still runs, only unguarded.
      std::fprintf(stderr, "single instance: cannot create %s\n", qPrintable(instance.LockPath()));
    }

    auto form = std::make_unique<updater::TMainForm>(args);
    QObject::connect(&instance, &updater::TSingleInstance::RestoreRequested, form.get(),
                     &updater::TMainForm::RestoreRequest);
    // The boxes first: a box waits in a loop of its own, and the start-up it holds up must not
    // open another that waits.
    updater::TTerminationSignals termination([&form] {
      updater::DismissDialogs();
      form->close();
    });
    // Served before the first show, whose start-up boxes may wait for the user a long time.
    if (lock == updater::TSingleInstance::TLock::Owned && !instance.Listen()) {
      std::fprintf(stderr, "single instance: cannot serve %s\n", qPrintable(instance.ServerPath()));
    }
    // Tests of the restore request start the first instance minimised; nothing else sets this.
    if (qEnvironmentVariableIsSet("UPDATER_START_MINIMIZED")) {
      form->showMinimized();
    } else {
      form->show();
    }
    // A signal served inside a start-up box may already have closed the window; the loop
    // would then wait for a close that never comes.
    if (form->isVisible()) {
      app.exec();
    }
    form.reset();  // the shutdown sequence, while the lock is still held
  } catch (...) {
    updater::DefaultDialogs().Error(updater::CurrentExceptionText());
  }
  return 0;
}
