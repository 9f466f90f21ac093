#pragma once
// The program's modal dialogs behind one seam, so that tests can answer them in advance.
//
// The default implementation shows real Qt dialogs. With UPDATER_DIALOGS_TO_STDERR set in the
// environment, boxes print "caption: text" to stderr and return at once and file dialogs are
// cancelled, so that a test can run the real executable without a user at the screen. The
// category "updater.dialogs" traces each real box once it waits for the user.
//
// Threads: main thread only, like every widget.

#include <QString>

class QWidget;

namespace updater {

inline constexpr char kErrorCaption[] = "Veltorium Firmware Loader";

class TDialogs {
 public:
  virtual ~TDialogs() = default;

  // A modal error box owned by the application: the program's caption, the error icon and
  // one OK button. Returns when the user has closed it.
  virtual void Error(const QString& text) = 0;

  // The file-open dialog. Returns the chosen file, or an empty text when cancelled.
  virtual QString OpenFileName(QWidget* parent, const QString& directory,
                               const QString& filter) = 0;
};

// The process's dialogs: real ones, or the stderr stand-in chosen by the environment.
TDialogs& DefaultDialogs();

// For a program asked to end: every open box and dialog of the process is closed as if
// cancelled, and from now on the default dialogs never wait for the user (a box that would come
// is written to stderr, a file dialog counts as cancelled).
void DismissDialogs();

}  // namespace updater
