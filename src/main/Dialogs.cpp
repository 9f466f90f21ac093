#include "Dialogs.h"

#include "CrashReportDialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

namespace updater {

namespace {

Q_LOGGING_CATEGORY(lcDialogs, "updater.dialogs", QtInfoMsg)

// Set once the program has been asked to end: from then on no box waits for the user.
bool g_dismissed = false;

void WriteBoxToStderr(const QString& text) {
  const QByteArray line =
      (QString::fromUtf8(kErrorCaption) + QStringLiteral(": ") + text + QLatin1Char('\n')).toUtf8();
  std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
  std::fflush(stderr);
}

void WriteDetailsToStderr(const QString& details) {
  const QByteArray text = details.toUtf8();
  std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
  if (!text.endsWith('\n')) {
    std::fputc('\n', stderr);
  }
  std::fflush(stderr);
}

class TQtDialogs : public TDialogs {
 public:
  void Error(const QString& text) override {
    if (g_dismissed) {
      // Nobody is left to answer it; the message is not lost for all that.
      WriteBoxToStderr(text);
      return;
    }
    // Served by the box's own loop, so the trace says the box is up and waiting.
    QTimer::singleShot(0, qApp, [text] { qCDebug(lcDialogs).noquote() << "box waits:" << text; });
    QMessageBox::critical(nullptr, QString::fromUtf8(kErrorCaption), text);
  }

  QString OpenFileName(QWidget* parent, const QString& directory, const QString& filter) override {
    if (g_dismissed) {
      return {};
    }
    return QFileDialog::getOpenFileName(parent, QString(), directory, filter);
  }

  void ErrorWithDetails(const QString& text, const QString& details) override {
    if (g_dismissed) {
      WriteBoxToStderr(text);
      WriteDetailsToStderr(details);
      return;
    }
    QTimer::singleShot(0, qApp, [text] { qCDebug(lcDialogs).noquote() << "box waits:" << text; });
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kErrorCaption), text,
                    QMessageBox::Ok | QMessageBox::Save);
    box.button(QMessageBox::Save)->setText(QString::fromUtf8(kSaveButtonText));
    box.setDetailedText(details);
    if (box.exec() == QMessageBox::Save) {
      SaveText(*this, nullptr, details, QStringLiteral("exception.txt"));
    }
  }

  void CrashReport(const TCrashReportView& report) override {
    if (g_dismissed) {
      WriteBoxToStderr(QString::fromUtf8(kCrashReportText) + QLatin1Char(' ') + report.path);
      return;
    }
    TCrashReportDialog dialog(report, *this);
    QTimer::singleShot(0, qApp, [] { qCDebug(lcDialogs).noquote() << "crash report waits"; });
    dialog.exec();
  }

  QString SaveFileName(QWidget* parent, const QString& suggested) override {
    if (g_dismissed) {
      return {};
    }
    return QFileDialog::getSaveFileName(parent, QString(), suggested);
  }

  bool OpenUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }
};

// Nobody is there to press OK: the box is reported on stderr and counts as answered.
class TStderrDialogs : public TDialogs {
 public:
  void Error(const QString& text) override { WriteBoxToStderr(text); }

  QString OpenFileName(QWidget*, const QString&, const QString&) override { return {}; }

  void ErrorWithDetails(const QString& text, const QString& details) override {
    WriteBoxToStderr(text);
    WriteDetailsToStderr(details);
  }

  void CrashReport(const TCrashReportView& report) override {
    WriteBoxToStderr(QString::fromUtf8(kCrashReportText) + QLatin1Char(' ') + report.path);
  }
};

}  // namespace

void TDialogs::ErrorWithDetails(const QString& text, const QString&) {
  Error(text);
}

void TDialogs::CrashReport(const TCrashReportView&) {}

QString TDialogs::SaveFileName(QWidget*, const QString&) {
  return {};
}

bool TDialogs::OpenUrl(const QUrl&) {
  return false;
}

TDialogs& DefaultDialogs() {
  static TQtDialogs qt_dialogs;
  static TStderrDialogs stderr_dialogs;
  const char* choice = std::getenv("UPDATER_DIALOGS_TO_STDERR");
  if (choice != nullptr && *choice != '\0') {
    return stderr_dialogs;
  }
  return qt_dialogs;
}

void DismissDialogs() {
  g_dismissed = true;
  // A rejected box's loop returns once the signal's handler is done; boxes opened inside other
  // boxes return innermost first.
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(widget);
    if (dialog != nullptr && dialog->isVisible()) {
      dialog->reject();
    }
  }
}

}  // namespace updater
