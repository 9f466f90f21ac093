#pragma once
// What the window does with crash reports: at start, the report an earlier run left is shown in
// a dialog (its text; buttons to save it elsewhere, copy it, or hand it to the user's mail
// program addressed as the program's crash settings say), then marked as seen; an exception
// escaping an event handler is shown with the stack it was thrown from.
//
// The crash settings are a resource of the program, ":/crash/crash-report.ini":
//   [report]
//   address=...   where the mail button sends reports
//   subject=...   the mail's subject
//
// Threads: main thread only, like every widget.
//
// Ownership: the dialog keeps a reference to the dialogs it asks for file names and URLs; they
// outlive it.

#include <QDialog>
#include <QString>
#include <QUrl>
#include <string>

#include "Dialogs.h"

class QPlainTextEdit;

namespace updater {

inline constexpr char kCrashReportText[] =
    "В прошлый раз программа завершилась аварийно. Отчёт об ошибке:";
inline constexpr char kSaveButtonText[] = "Сохранить...";
inline constexpr char kCopyButtonText[] = "Копировать";
inline constexpr char kMailButtonText[] = "Отправить по почте";
inline constexpr char kCloseButtonText[] = "Закрыть";
inline constexpr char kSaveFailedText[] = "Не удалось сохранить файл:";

class TCrashReportDialog : public QDialog {
  Q_OBJECT

 public:
  TCrashReportDialog(const TCrashReportView& report, TDialogs& dialogs, QWidget* parent = nullptr);

  // The buttons' actions, also for tests.
  void Save();
  void Copy();
  void Mail();

 private:
  TCrashReportView report_;
  TDialogs& dialogs_;
};

// The mail the mail button hands over: to the settings' address, with their subject, and the
// report's head (up to its list of modules) as the body; the full report's path closes it.
QUrl CrashMailUrl(const TCrashReportView& report);

// Asks for a file and writes text into it; an error box when it cannot be written. False when
// cancelled or failed.
bool SaveText(TDialogs& dialogs, QWidget* parent, const QString& text, const QString& file_name);

// At start: the newest report the program left in logs_folder that nobody has seen is shown
// through dialogs, and every unseen one is marked as seen. False when there was none.
bool ShowUnseenCrashReport(TDialogs& dialogs, const std::string& logs_folder);

// The details part of the box for an exception escaping an event handler (call inside the
// catch block): the exception and the stack it was thrown from, or, when that is not known, the
// stack where it was caught.
QString ExceptionDetails();

}  // namespace updater
