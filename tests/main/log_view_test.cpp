// The event log's view on its own: wherever the caret was, an appended line leaves it at the
// end with no selection and scrolls the new line into sight; a full view drops its oldest lines
// and only those.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "LogView.h"

using namespace updater;

namespace {

TEST(LogViewTest, AppendLeavesTheCaretAtTheEndWithTheNewLineInSight) {
  struct TCase {
    const char* name;
    int anchor;  // -1: the caret stays where the last append left it
    int position;
    int limit;  // the view's lines; 0: more than are appended
  };
  // Positions in the first lines, far above what the view shows; with a limit, in lines the
  // next append drops.
  constexpr int kLines = 300;
  const TCase cases[] = {
      {"caret left at the end", -1, -1, 0},
      {"caret at the start", 0, 0, 0},
      {"selection in the first lines", 3, 40, 0},
      {"full view, caret left at the end", -1, -1, kLines},
      {"full view, selection in the line to drop", 2, 5, kLines},
      {"full view, caret in the middle", 900, 900, kLines / 2},
  };
  for (const TCase& c : cases) {
    QPlainTextEdit view;
    PrepareLogView(view, c.limit);
    view.resize(400, 150);
    view.show();
    for (int i = 0; i < kLines; ++i) {
      AppendLogLine(view, i % 3, QStringLiteral("line %1").arg(i));
    }
    QCoreApplication::processEvents();
    if (c.anchor >= 0) {
      QTextCursor moved(view.document());
      moved.setPosition(c.anchor);
      moved.setPosition(c.position, QTextCursor::KeepAnchor);
      view.setTextCursor(moved);
      view.ensureCursorVisible();
      QCoreApplication::processEvents();
    }

    AppendLogLine(view, 1, QStringLiteral("the new line"));
    QCoreApplication::processEvents();

    const QTextCursor caret = view.textCursor();
    EXPECT_TRUE(caret.atEnd()) << c.name;
    EXPECT_FALSE(caret.hasSelection()) << c.name;
    // The newest lines, in order, up to the limit.
    const int kept = c.limit == 0 ? kLines + 1 : c.limit;
    EXPECT_EQ(view.blockCount(), kept) << c.name;
    EXPECT_EQ(view.document()->firstBlock().text(),
              QStringLiteral("line %1").arg(kLines + 1 - kept))
        << c.name;
    EXPECT_EQ(view.document()->lastBlock().previous().text(),
              QStringLiteral("line %1").arg(kLines - 1))
        << c.name;
    EXPECT_EQ(view.document()->lastBlock().text(), QStringLiteral("the new line")) << c.name;
    EXPECT_TRUE(view.viewport()->rect().contains(view.cursorRect())) << c.name;
    // The view was scrolled down to the last line: the bar stands at its end, or one step
    // short of it, the step that shows the document's lower margin below the last line.
    EXPECT_GT(view.verticalScrollBar()->maximum(), 0) << c.name;
    EXPECT_GE(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum() - 1) << c.name;
  }
}

}  // namespace
