// The window and crash reports: a start after a crash shows the report once, the dialog's
// buttons save, copy and mail it, and an exception escaping an event handler shows the stack it
// was thrown from while the loop goes on.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrlQuery>
#include <memory>
#include <stdexcept>

#include "CrashReportDialog.h"
#include "MainForm.h"
#include "SettingsFile.h"
#include "UpdaterApplication.h"
#include "form_rig.h"

namespace updater {
namespace {

constexpr char kReportText[] =
    "Crash report\n"
    "program: veltorium-updater\n"
    "version: 1.0\n"
    "signal: SIGSEGV (11), code 1, address 0x0\n"
    "\n"
    "stack:\n"
    "#0 0x55d70bc5a07a in updater::TMainForm::Boom() at MainForm.cpp:12 (veltorium-updater)\n"
    "\n"
    "modules (/proc/self/maps):\n"
    "55c820283000-55c820287000 r--p 00000000 fe:00 5521967 /usr/lib/veltorium-updater\n"
    "\n"
    "end of report\n";

QString LogsFolder() {
  return QString::fromStdString(
      WindowDataFolders(QCoreApplication::applicationDirPath().toStdString() + '/').logs);
}

QString PutReport(const QString& name, const char* text = kReportText) {
  QDir().mkpath(LogsFolder());
  const QString path = QDir(LogsFolder()).filePath(name);
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text);
  return path;
}

std::unique_ptr<TMainForm> StartWindow(test::TRecordingDialogs& dialogs) {
  auto form = std::make_unique<TMainForm>(std::vector<std::string>{});
  form->SetDialogs(dialogs);
  form->Session().SetLibraryLoaders({test::EmptyFtdi, test::EmptyQl});
  form->show();
  return form;
}

TEST(CrashReportTest, AStartAfterACrashShowsTheNewestReportOnce) {
  PutReport(QStringLiteral("crash-20240301-101010.txt"));
  const QString newest = PutReport(QStringLiteral("crash-20240302-090000.txt"));
  {
    test::TRecordingDialogs dialogs;
    auto form = StartWindow(dialogs);
    ASSERT_EQ(dialogs.CrashReports.size(), 1u);
    const TCrashReportView& shown = dialogs.CrashReports[0];
    EXPECT_EQ(shown.path, newest);
    EXPECT_EQ(shown.text, QString::fromUtf8(kReportText));
    // From the program's crash settings.
    EXPECT_TRUE(shown.mail_address.contains(QLatin1Char('@'))) << shown.mail_address.toStdString();
    EXPECT_FALSE(shown.mail_subject.isEmpty());
  }
  test::TRecordingDialogs again;
  auto form = StartWindow(again);
  EXPECT_TRUE(again.CrashReports.empty());
}

TEST(CrashReportTest, AStartWithoutAReportShowsNothing) {
  test::TRecordingDialogs dialogs;
  auto form = StartWindow(dialogs);
  EXPECT_TRUE(dialogs.CrashReports.empty());
}

TEST(CrashReportTest, TheDialogsButtonsSaveCopyAndMailTheReport) {
  TCrashReportView report;
  report.path = PutReport(QStringLiteral("crash-20240302-090000.txt"));
  report.text = QString::fromUtf8(kReportText);
  report.mail_address = QStringLiteral("reports@example.org");
  report.mail_subject = QStringLiteral("Crash & report + more");
  test::TRecordingDialogs dialogs;
  QTemporaryDir elsewhere;
  dialogs.SaveAnswer = elsewhere.filePath(QStringLiteral("saved.txt"));
  TCrashReportDialog dialog(report, dialogs);
  dialog.show();
  // The dialog is real and modal in the program; the test presses its buttons while it is up.
  QTimer::singleShot(0, &dialog, [&dialog] {
    for (const char* name : {"btnSave", "btnCopy", "btnMail"}) {
      dialog.findChild<QPushButton*>(QString::fromLatin1(name))->click();
    }
    dialog.findChild<QPushButton*>(QStringLiteral("btnClose"))->click();
  });
  EXPECT_EQ(dialog.exec(), QDialog::Rejected);

  QFile saved(dialogs.SaveAnswer);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(saved.readAll(), QByteArray(kReportText));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), report.text);
  ASSERT_EQ(dialogs.OpenedUrls.size(), 1u);
  const QUrl url = dialogs.OpenedUrls[0];
  EXPECT_EQ(url.scheme(), QStringLiteral("mailto"));
  EXPECT_EQ(url.path(), report.mail_address);
  const QUrlQuery query(url);
  EXPECT_EQ(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
            report.mail_subject);
  const QString body = query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded);
  // The head and the stack go in the mail; the long lists stay in the file it names.
  EXPECT_TRUE(body.contains(QStringLiteral("updater::TMainForm::Boom()"))) << body.toStdString();
  EXPECT_FALSE(body.contains(QStringLiteral("r--p")));
  EXPECT_TRUE(body.contains(report.path));
  EXPECT_TRUE(dialogs.Errors.isEmpty());
}

TEST(CrashReportTest, ASaveThatFailsSaysSo) {
  TCrashReportView report;
  report.text = QString::fromUtf8(kReportText);
  test::TRecordingDialogs dialogs;
  dialogs.SaveAnswer = QStringLiteral("/nonexistent-folder/saved.txt");
  TCrashReportDialog dialog(report, dialogs);
  dialog.Save();
  ASSERT_EQ(dialogs.Errors.size(), 1);
  EXPECT_TRUE(dialogs.Errors[0].contains(dialogs.SaveAnswer));
}

__attribute__((noinline)) void ThrowFromAnEventHandler() {
  throw std::runtime_error("thrown by an event handler");
}

class TThrowingObject : public QObject {
 public:
  bool event(QEvent* event) override {
    if (event->type() == QEvent::User) {
      ThrowFromAnEventHandler();
    }
    return QObject::event(event);
  }
};

TEST(CrashReportTest, AnExceptionEscapingAnEventHandlerShowsWhereItWasThrown) {
  test::TRecordingDialogs dialogs;
  auto* app = static_cast<TUpdaterApplication*>(QCoreApplication::instance());
  app->SetDialogs(dialogs);
  // Later tests choose their boxes through the environment, as the program does.
  const auto restore = qScopeGuard([app] { app->UseDefaultDialogs(); });
  TThrowingObject object;
  QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
  bool loop_went_on = false;
  QTimer::singleShot(0, [&loop_went_on] { loop_went_on = true; });
  EXPECT_TRUE(test::PumpUntil([&] { return loop_went_on && !dialogs.Errors.isEmpty(); }, 5000));
  ASSERT_EQ(dialogs.Errors, QStringList{QStringLiteral("thrown by an event handler")});
  ASSERT_EQ(dialogs.Details.size(), 1);
  const QString& details = dialogs.Details[0];
#if UPDATER_CRASH_DISABLED
  EXPECT_TRUE(details.contains(QStringLiteral("stack where the exception was caught")));
#else
  EXPECT_TRUE(details.contains(QStringLiteral("stack where the exception was thrown")));
  EXPECT_TRUE(details.contains(QStringLiteral("ThrowFromAnEventHandler"))) << details.toStdString();
#endif
}

}  // namespace
}  // namespace updater
