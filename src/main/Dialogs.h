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

class QUrl;
class QWidget;

namespace updater {

// A crash report left by an earlier run, as the dialog shows it.
struct TCrashReportView {
  QString path;          // the report's file
  QString text;          // its whole text
  QString mail_address;  // where the mail button sends it (the program's crash settings)
  QString mail_subject;
};

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

  // Unless overridden, the calls below answer as if nobody were at the screen: the details box
  // is the plain error box, the crash report is closed at once, the file dialog is cancelled
  // and nothing is opened. The real dialogs and the stderr stand-in override them.

  // The error box with a details part (the stack) and a button that saves the details.
  virtual void ErrorWithDetails(const QString& text, const QString& details);

  // The dialog of a crash report left by the last run: its text, and buttons that save it,
  // copy it or hand it to the user's mail program. Returns when the user has closed it.
  virtual void CrashReport(const TCrashReportView& report);

  // The file-save dialog, starting at suggested. Returns the chosen file, or an empty text.
  virtual QString SaveFileName(QWidget* parent, const QString& suggested);

  // Hands a URL (mailto:) to the desktop. False when nothing took it.
  virtual bool OpenUrl(const QUrl& url);
};

// The process's dialogs: real ones, or the stderr stand-in chosen by the environment.
TDialogs& DefaultDialogs();

// For a program asked to end: every open box and dialog of the process is closed as if
// cancelled, and from now on the default dialogs never wait for the user (a box that would come
// is written to stderr, a file dialog counts as cancelled).
void DismissDialogs();

}  // namespace updater
