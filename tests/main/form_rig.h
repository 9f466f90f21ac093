#pragma once
// Helpers for tests of the main window: dialogs answered in advance, event-loop pumping.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Dialogs.h"
#include "DriverLibraries.h"

namespace updater::test {

// Records every box instead of showing it; file dialogs return the prepared answer.
class TRecordingDialogs : public TDialogs {
 public:
  QStringList Errors;
  QString FileAnswer;

  QStringList Details;  // of each box with details, in order
  std::vector<TCrashReportView> CrashReports;
  QString SaveAnswer;
  std::vector<QUrl> OpenedUrls;

  void Error(const QString& text) override { Errors.push_back(text); }
  QString OpenFileName(QWidget*, const QString&, const QString&) override { return FileAnswer; }
  void ErrorWithDetails(const QString& text, const QString& details) override {
    Errors.push_back(text);
    Details.push_back(details);
  }
  void CrashReport(const TCrashReportView& report) override { CrashReports.push_back(report); }
  QString SaveFileName(QWidget*, const QString&) override { return SaveAnswer; }
  bool OpenUrl(const QUrl& url) override {
    OpenedUrls.push_back(url);
    return true;
  }
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
