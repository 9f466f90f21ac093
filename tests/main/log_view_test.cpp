// The event log's view on its own: wherever the caret was, an appended line leaves it at the
// end with no selection and scrolls the new line into sight; a full view drops its oldest lines
// and only those, also for lines appended together. The frames that pace the view: a lone change
// is shown at once, a burst together a frame later, and nothing is shown twice or lost.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "LogView.h"
#include "ViewFrames.h"
#include "form_rig.h"

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
      AppendLogLines(view, {{i % 3, QStringLiteral("line %1").arg(i)}});
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

    AppendLogLines(view, {{1, QStringLiteral("the new line")}});
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

TEST(LogViewTest, LinesAppendedTogetherKeepTheirOrderAndColoursAndOnlyTheNewestStay) {
  QPlainTextEdit view;
  PrepareLogView(view, 3);
  AppendLogLines(view, {{0, QStringLiteral("before")}});
  AppendLogLines(view, {});
  EXPECT_EQ(view.toPlainText(), QStringLiteral("before"));

  const std::vector<TShownLine> burst = {{0, QStringLiteral("a")},
                                         {1, QStringLiteral("b")},
                                         {2, QStringLiteral("c")},
                                         {7, QStringLiteral("d")}};
  AppendLogLines(view, burst);
  EXPECT_EQ(view.toPlainText(), QStringLiteral("b\nc\nd"));
  const QColor colours[] = {QColor(255, 0, 0), QColor(0, 128, 0), QColor(0, 0, 0)};
  QTextBlock block = view.document()->firstBlock();
  for (const QColor& colour : colours) {
    ASSERT_TRUE(block.isValid());
    EXPECT_EQ(block.begin().fragment().charFormat().foreground().color(), colour)
        << block.text().toStdString();
    block = block.next();
  }
  EXPECT_TRUE(view.textCursor().atEnd());
  EXPECT_FALSE(view.textCursor().hasSelection());
}

TEST(ViewFramesTest, ALoneChangeIsShownAtOnceABurstTogetherAFrameLater) {
  // A frame far longer than the test: what is held back is held until asked for.
  {
    int shown = 0;
    TViewFrames frames([&shown] { ++shown; }, 600000);
    frames.ShowNow();
    EXPECT_EQ(shown, 0) << "nothing gathered, nothing shown";
    frames.Changed();
    EXPECT_EQ(shown, 1) << "the first change is shown at once";
    frames.Changed();
    frames.Changed();
    EXPECT_EQ(shown, 1) << "changes within the frame wait for its end";
    EXPECT_TRUE(frames.Pending());
    frames.ShowNow();
    EXPECT_EQ(shown, 2);
    EXPECT_FALSE(frames.Pending());
    frames.ShowNow();
    EXPECT_EQ(shown, 2);
  }

  // A short frame: the burst comes out by itself, once, no sooner than the frame allows.
  constexpr int kFrameMs = 50;
  int shown = 0;
  QElapsedTimer since_first;
  qint64 second_at = -1;
  TViewFrames frames(
      [&] {
        if (++shown == 1) {
          since_first.start();
        } else if (second_at < 0) {
          second_at = since_first.elapsed();
        }
      },
      kFrameMs);
  frames.Changed();
  frames.Changed();
  frames.Changed();
  ASSERT_TRUE(test::PumpUntil([&] { return shown >= 2; }, 10000));
  // Qt lets a coarse timer fire up to 5 % early.
  EXPECT_GE(second_at, kFrameMs * 95 / 100);
  EXPECT_FALSE(frames.Pending());
  test::Pump(3 * kFrameMs);
  EXPECT_EQ(shown, 2) << "a frame with nothing new is not shown";
}

}  // namespace
