#pragma once
// The event log's view: appends finished lines in their kinds' colours at the end of a
// plain-text view and brings the caret and the last new line into sight. The view shows the last
// kLogViewLines lines and drops older ones from its top; the daily file keeps every line. An
// append costs the same however long the program has run.
//
// Threads: main thread (widgets). The view and its document stay the caller's.

#include <QString>
#include <vector>

class QPlainTextEdit;

namespace updater {

// About 0.7 kB of memory per line in the view, so some 14 MB at most: a day's trays of trackers
// (about 290 lines each) can run without the window growing, and the latest seventy trackers'
// lines are still there to scroll back to.
inline constexpr int kLogViewLines = 20000;

// Makes a plain-text view into the log's view: no undo history (it would hold every line a
// second time) and at most `lines` lines (0: no limit).
void PrepareLogView(QPlainTextEdit& view, int lines = kLogViewLines);

struct TShownLine {
  int kind;  // TLogKind; unknown kinds are normal
  QString text;
};

// Appends finished lines to the event log's view, each in its kind's colour, and shows the last:
// the caret goes to the end with no selection. The view lays out and paints once for them all.
void AppendLogLines(QPlainTextEdit& view, const std::vector<TShownLine>& lines);

}  // namespace updater
