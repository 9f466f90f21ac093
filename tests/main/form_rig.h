#pragma once
// Helpers for tests of the main window: dialogs answered in advance, event-loop pumping.

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "Dialogs.h"
#include "DriverLibraries.h"

namespace updater::test {

// Records every box instead of showing it; file dialogs return the prepared answer.
class TRecordingDialogs : public TDialogs {
 public:
  QStringList Errors;
  QString FileAnswer;

  void Error(const QString& text) override { Errors.push_back(text); }
  QString OpenFileName(QWidget*, const QString&, const QString&) override { return FileAnswer; }
};

// Library tables filled by hand that list no devices, so that a scan started by the window's
// timer finds nothing and calls nothing else.
std::unique_ptr<TFtdiLibrary> EmptyFtdi(const std::string& app_dir = {});
std::unique_ptr<TQlLibrary> EmptyQl(const std::string& app_dir = {});

// Runs the event loop for about ms milliseconds.
void Pump(int ms);
// Runs the event loop until pred() holds or timeout_ms has passed; returns pred().
bool PumpUntil(const std::function<bool()>& pred, int timeout_ms);

}  // namespace updater::test
