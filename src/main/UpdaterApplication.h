#pragma once
// The application object. An exception that escapes an event handler is shown in an error box
// with its message, and the event loop goes on with the next event.
//
// Threads: main thread.

#include <QApplication>

namespace updater {

class TUpdaterApplication : public QApplication {
 public:
  TUpdaterApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

// The text shown for the exception being handled (call only inside a catch block): what() of a
// standard exception, UTF-8; an empty text for anything else.
QString CurrentExceptionText();

}  // namespace updater
