#pragma once
// The application object. An exception that escapes an event handler is shown in an error box
// with its message and, in its details, the stack it was thrown from (a button saves them), and
// the event loop goes on with the next event. It names the program as
// its desktop entry does and gives every window the program's icon.
//
// Threads: main thread.

#include <QApplication>

namespace updater {

class TDialogs;

// The application's name, its desktop entry's file name (without ".desktop") and icon name.
inline constexpr char kProgramName[] = "veltorium-updater";
// The icon's sizes in the resources (":/icons/veltorium-updater-SIZE.png").
inline constexpr int kProgramIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

class TUpdaterApplication : public QApplication {
 public:
  TUpdaterApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // The dialogs of the error box; DefaultDialogs(), chosen when the box is due, unless a test
  // sets its own (not owned) until it calls UseDefaultDialogs().
  void SetDialogs(TDialogs& dialogs) { dialogs_ = &dialogs; }
  void UseDefaultDialogs() { dialogs_ = nullptr; }

 private:
  TDialogs* dialogs_ = nullptr;
};

// The text shown for the exception being handled (call only inside a catch block): what() of a
// standard exception, UTF-8; an empty text for anything else.
QString CurrentExceptionText();

}  // namespace updater
