#include "CrashReportDialog.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QUrlQuery>
#include <QVBoxLayout>
#include <vector>

#include "CrashReport.h"
#include "FormFont.h"
#include "UpdaterApplication.h"

namespace updater {

namespace {

constexpr char kSettingsResource[] = ":/crash/crash-report.ini";
// A mail program is started with the whole URL on its command line; the body keeps well under
// the system's limit for one argument.
constexpr int kMailBodyChars = 6000;

QString Utf8(const char* text) {
  return QString::fromUtf8(text);
}

}  // namespace

TCrashReportDialog::TCrashReportDialog(const TCrashReportView& report, TDialogs& dialogs,
                                       QWidget* parent)
    : QDialog(parent), report_(report), dialogs_(dialogs) {
  setWindowTitle(Utf8(kErrorCaption));
  setObjectName(QStringLiteral("CrashReportDialog"));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(Utf8(kCrashReportText), this);
  label->setTextFormat(Qt::PlainText);
  layout->addWidget(label);
  auto* text = new QPlainTextEdit(this);
  text->setObjectName(QStringLiteral("CrashReportText"));
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setPlainText(report.text);
  layout->addWidget(text);

  auto* buttons = new QDialogButtonBox(this);
  struct TButton {
    const char* name;
    const char* text;
    void (TCrashReportDialog::*action)();
  };
  const TButton kButtons[] = {{"btnSave", kSaveButtonText, &TCrashReportDialog::Save},
                              {"btnCopy", kCopyButtonText, &TCrashReportDialog::Copy},
                              {"btnMail", kMailButtonText, &TCrashReportDialog::Mail}};
  for (const TButton& entry : kButtons) {
    QPushButton* button = buttons->addButton(Utf8(entry.text), QDialogButtonBox::ActionRole);
    button->setObjectName(QString::fromLatin1(entry.name));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, entry.action);
  }
  QPushButton* close = buttons->addButton(Utf8(kCloseButtonText), QDialogButtonBox::RejectRole);
  close->setObjectName(QStringLiteral("btnClose"));
  close->setDefault(true);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // Action buttons would close the box as well; only the close button does.
  layout->addWidget(buttons);
  UseFormFont(this);
  resize(760, 520);
}

void TCrashReportDialog::Save() {
  SaveText(dialogs_, this, report_.text, QFileInfo(report_.path).fileName());
}

void TCrashReportDialog::Copy() {
  QGuiApplication::clipboard()->setText(report_.text);
}

void TCrashReportDialog::Mail() {
  dialogs_.OpenUrl(CrashMailUrl(report_));
}

QUrl CrashMailUrl(const TCrashReportView& report) {
  QString body = report.text;
  const qsizetype modules = body.indexOf(QStringLiteral("\nmodules ("));
  if (modules >= 0) {
    body.truncate(modules + 1);
  }
  if (body.size() > kMailBodyChars) {
    body.truncate(kMailBodyChars);
    body += QStringLiteral("\n...\n");
  }
  body += QStringLiteral("\n") + report.path + QLatin1Char('\n');
  QUrl url;
  url.setScheme(QStringLiteral("mailto"));
  url.setPath(report.mail_address);
  QUrlQuery query;
  // Encoded by hand: a '+' or '&' in the text must reach the mail program as it is.
  query.addQueryItem(QStringLiteral("subject"),
                     QString::fromLatin1(QUrl::toPercentEncoding(report.mail_subject)));
  query.addQueryItem(QStringLiteral("body"), QString::fromLatin1(QUrl::toPercentEncoding(body)));
  url.setQuery(query);
  return url;
}

bool SaveText(TDialogs& dialogs, QWidget* parent, const QString& text, const QString& file_name) {
  const QString path = dialogs.SaveFileName(parent, QDir::home().filePath(file_name));
  if (path.isEmpty()) {
    return false;
  }
  QSaveFile file(path);
  const QByteArray bytes = text.toUtf8();
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    dialogs.Error(Utf8(kSaveFailedText) + QLatin1Char(' ') + path);
    return false;
  }
  return true;
}

bool ShowUnseenCrashReport(TDialogs& dialogs, const std::string& logs_folder) {
  if (logs_folder.empty()) {
    return false;
  }
  const std::vector<std::string> unseen = crash::UnseenReports(logs_folder, kProgramName);
  if (unseen.empty()) {
    return false;
  }
  TCrashReportView view;
  view.path = QString::fromStdString(unseen.back());
  QFile file(view.path);
  if (file.open(QIODevice::ReadOnly)) {
    view.text = QString::fromUtf8(file.readAll());
  }
  const QSettings settings(Utf8(kSettingsResource), QSettings::IniFormat);
  view.mail_address = settings.value(QStringLiteral("report/address")).toString();
  view.mail_subject = settings.value(QStringLiteral("report/subject")).toString();
  // Marked first: should the program end while the dialog is open, it does not come back.
  for (const std::string& report : unseen) {
    crash::MarkSeen(report);
  }
  dialogs.CrashReport(view);
  return true;
}

QString ExceptionDetails() {
  QString details = CurrentExceptionText();
  crash::TStack stack = crash::ThrownStack();
  QString heading = QStringLiteral("stack where the exception was thrown:\n");
  if (stack.count == 0) {
    stack = crash::CaptureStack();
    heading = QStringLiteral("stack where the exception was caught:\n");
  }
  if (!details.isEmpty()) {
    details += QStringLiteral("\n\n");
  }
  return details + heading + QString::fromStdString(crash::DescribeStack(stack));
}

}  // namespace updater
