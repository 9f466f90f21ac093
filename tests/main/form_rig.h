#pragma once
// Helpers for tests of the main window: dialogs answered in advance, event-loop pumping.

#include <QString>
#include <QStringList>
#include <functional>

#include "Dialogs.h"

namespace updater::test {

// Records every box instead of showing it; file dialogs return the prepared answer.
class TRecordingDialogs : public TDialogs {
 public:
  QStringList Errors;
  QString FileAnswer;

  void Error(const QString& text) override { Errors.push_back(text); }
  QString OpenFileName(QWidget*, const QString&, const QString&) override { return FileAnswer; }
};

// Runs the event loop for about ms milliseconds.
void Pump(int ms);
// Runs the event loop until pred() holds or timeout_ms has passed; returns pred().
bool PumpUntil(const std::function<bool()>& pred, int timeout_ms);

}  // namespace updater::test
