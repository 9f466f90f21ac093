#pragma once
// The event log's view: appends one finished line in its kind's colour at the end of a
// plain-text view and brings the caret and the new line into sight. The view keeps every line
// (no block limit); an append costs the same however many lines the view already holds.
//
// Threads: main thread (widgets). The view and its document stay the caller's.

#include <QString>

class QPlainTextEdit;

namespace updater {

// Appends one finished line to the event log's view in its kind's colour (TLogKind; unknown
// kinds are normal) and shows it: the caret goes to the end with no selection. The view's
// document keeps no undo history from then on.
void AppendLogLine(QPlainTextEdit& view, int kind, const QString& line);

}  // namespace updater
