// The event log's view: the session's lines in reLog, coloured by kind. The daily file is the
// session's own consumer of the same lines.
//
// Main thread only.

#include <QColor>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include "MainForm.h"

namespace updater {

namespace {

QColor KindColor(int kind) {
  switch (kind) {
    case kLogError:
      return QColor(255, 0, 0);
    case kLogSuccess:
      return QColor(0, 128, 0);
    default:
      return QColor(0, 0, 0);
  }
}

}  // namespace

void TMainForm::ShowLogLine(int kind, const std::string& line) {
  // Appending at the end with the line's own format costs the same however long the log is:
  // nothing before the new line is read, selected or re-formatted. The edit block makes the
  // new line one change, laid out once.
  QTextDocument* document = reLog->document();
  QTextCursor cursor(document);
  cursor.beginEditBlock();
  cursor.movePosition(QTextCursor::End);
  if (!document->isEmpty()) {
    cursor.insertBlock();
  }
  QTextCharFormat format;
  format.setForeground(KindColor(kind));
  cursor.insertText(QString::fromUtf8(line), format);
  cursor.endEditBlock();

  // The caret goes to the end of the text, which leaves no selection and shows the new line.
  reLog->moveCursor(QTextCursor::End);
}

}  // namespace updater
