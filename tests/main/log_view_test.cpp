// The event log's view on its own: wherever the caret was, an appended line leaves it at the
// end with no selection and scrolls the new line into sight, and no line is dropped.

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
  };
  // Positions in the first lines, far above what the view shows.
  const TCase cases[] = {
      {"caret left at the end", -1, -1},
      {"caret at the start", 0, 0},
      {"selection in the first lines", 3, 40},
  };
  for (const TCase& c : cases) {
    QPlainTextEdit view;
    view.resize(400, 150);
    view.show();
    constexpr int kLines = 300;
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
    EXPECT_EQ(view.blockCount(), kLines + 1) << c.name;
    EXPECT_EQ(view.document()->firstBlock().text(), QStringLiteral("line 0")) << c.name;
    EXPECT_EQ(view.document()->lastBlock().text(), QStringLiteral("the new line")) << c.name;
    EXPECT_TRUE(view.viewport()->rect().contains(view.cursorRect())) << c.name;
    // The view was scrolled down to the last line: the bar stands at its end, or one step
    // short of it, the step that shows the document's lower margin below the last line.
    EXPECT_GT(view.verticalScrollBar()->maximum(), 0) << c.name;
    EXPECT_GE(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum() - 1) << c.name;
  }
}

}  // namespace
