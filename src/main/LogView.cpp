// The event log's view: one edit for all the lines at the document's end, caret and scrolling
// after.

#include "LogView.h"

#include <QColor>
#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <array>

#include "LogSink.h"

namespace updater {

namespace {

// One format per kind, made once: the document finds an equal format by its hash, which a
// shared format keeps instead of computing it anew for every line.
const QTextCharFormat& KindFormat(int kind) {
  static const std::array<QTextCharFormat, 3> formats = [] {
    std::array<QTextCharFormat, 3> made;
    made[kLogNormal].setForeground(QColor(0, 0, 0));
    made[kLogError].setForeground(QColor(255, 0, 0));
    made[kLogSuccess].setForeground(QColor(0, 128, 0));
    return made;
  }();
  return kind == kLogError || kind == kLogSuccess ? formats[static_cast<size_t>(kind)]
                                                  : formats[kLogNormal];
}

}  // namespace

void PrepareLogView(QPlainTextEdit& view, int lines) {
  view.setUndoRedoEnabled(false);
  view.setMaximumBlockCount(lines);
}

void AppendLogLines(QPlainTextEdit& view, const std::vector<TShownLine>& lines) {
  if (lines.empty()) {
    return;
  }
  // Nothing before the new lines is read, selected or formatted again. Inside the edit block
  // the cursor's moves do not lay out the old last line, and the document tells its layout
  // about the new lines once, at the block's end, when it also drops the oldest lines if the
  // view is full.
  QTextDocument* document = view.document();
  QTextCursor cursor(document);
  cursor.beginEditBlock();
  cursor.movePosition(QTextCursor::End);
  for (const TShownLine& line : lines) {
    if (!document->isEmpty()) {
      cursor.insertBlock();
    }
    cursor.insertText(line.text, KindFormat(line.kind));
  }
  cursor.endEditBlock();

  // A caret at the end with no selection moved along with the insertion and is at the end
  // again; it only has to be brought into sight. Anywhere else it is put at the end.
  const QTextCursor caret = view.textCursor();
  if (caret.hasSelection() || !caret.atEnd()) {
    view.moveCursor(QTextCursor::End);
  } else {
    view.ensureCursorVisible();
  }
}

}  // namespace updater
