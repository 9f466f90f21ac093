#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <string>

#include "MainForm.h"
#include "form_controls.h"
#include "form_rig.h"

using namespace updater;

namespace {

class LogTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    TDataFolders folders;
    folders.logs = LogsPath().toStdString() + "/";
    form_.Session().SetFolders(dir_.path().toStdString() + "/", folders);
  }

  // The view as it stands once its frame is out.
  QPlainTextEdit& View() {
    form_.ShowFrameNow();
    return *FormUi(form_).reLog;
  }
  QStringList Lines() { return View().toPlainText().split(QLatin1Char('\n')); }
  QString LogsPath() const { return dir_.path() + QStringLiteral("/Logs"); }
  QString TodayFile() const {
    return LogsPath() + QLatin1Char('/') +
           QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".log");
  }
  QByteArray ReadFile(const QString& path) const {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir dir_;
  TMainForm form_{{}};
};

TEST_F(LogTest, LinesCarryTheDevicePrefixAndTheirTextUnchanged) {
  form_.Session().Log().AddFormatted(0, 0, "версия %d.%02d", 1, 16);
  form_.Session().Log().AddFormatted(0, 42, "% 6d|%08X|%s", 7, 0xBEEFu, "текст");
  form_.Session().Log().AddFormatted(2, 12345678, "eight digits");
  form_.Session().Log().AddFormatted(0, -5, "negative");
  form_.Session().Log().Add(1, 7, "100% done, %d %s");
  form_.Session().Log().Add(0, 0, "no device");
  const QStringList expected = {
      QStringLiteral("Прибор -------\tверсия 1.16"),
      QStringLiteral("Прибор      42\t     7|0000BEEF|текст"),
      QStringLiteral("Прибор 12345678\teight digits"),
      QStringLiteral("Прибор      -5\tnegative"),
      QStringLiteral("Прибор       7\t100% done, %d %s"),
      QStringLiteral("Прибор -------\tno device"),
  };
  EXPECT_EQ(Lines(), expected);
}

TEST_F(LogTest, EachKindColoursItsWholeLineAndLeavesNoSelection) {
  const std::vector<std::pair<int, QColor>> kinds = {
      {0, QColor(0, 0, 0)}, {1, QColor(255, 0, 0)}, {2, QColor(0, 128, 0)},
      {3, QColor(0, 0, 0)}, {-1, QColor(0, 0, 0)},  {1, QColor(255, 0, 0)},
  };
  for (const auto& [kind, colour] : kinds) {
    form_.Session().Log().Add(kind, 42, "line\twith tab");
  }
  QTextBlock block = View().document()->begin();
  for (const auto& [kind, colour] : kinds) {
    ASSERT_TRUE(block.isValid());
    EXPECT_EQ(block.text(), QStringLiteral("Прибор      42\tline\twith tab"));
    int covered = 0;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      EXPECT_EQ(fragment.charFormat().foreground().color(), colour) << "kind " << kind;
      covered += fragment.length();
    }
    EXPECT_EQ(covered, block.length() - 1) << "kind " << kind;  // all but the line break
    block = block.next();
  }
  EXPECT_FALSE(View().textCursor().hasSelection());
  EXPECT_TRUE(View().textCursor().atEnd());
}

TEST_F(LogTest, FileRecordIsStampedWindows1251WithCrLf) {
  // An existing day's file is appended to, never truncated.
  ASSERT_TRUE(QDir().mkpath(LogsPath()));
  {
    QFile old(TodayFile());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old\r\n");
  }
  FormUi(form_).cbWritelogToFile->setChecked(true);
  form_.Session().Log().Add(1, 42, "Ошибка №5 ✓ ok");
  form_.Session().Log().AddFormatted(0, 0, "%s", "ok");

  const QByteArray bytes = ReadFile(TodayFile());
  ASSERT_TRUE(bytes.startsWith("old\r\n"));
  const QList<QByteArray> records = bytes.mid(5).split('\n');
  ASSERT_EQ(records.size(), 3) << bytes.toHex().toStdString();  // two records, then nothing
  EXPECT_TRUE(records[2].isEmpty());

  // "Прибор      42\tОшибка №5 ? ok\r": Windows-1251 bytes written out by hand; the check mark
  // has no place in the code page, and what follows it is still encoded.
  const QByteArray first_line =
      "\xCF\xF0\xE8\xE1\xEE\xF0      42\t\xCE\xF8\xE8\xE1\xEA\xE0 \xB9"
      "5 ? ok\r";
  const QByteArray second_line = "\xCF\xF0\xE8\xE1\xEE\xF0 -------\tok\r";
  const QRegularExpression stamp(
      QStringLiteral("^\\[(\\d\\d)\\.(\\d\\d)\\.(\\d{4}) \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]\\t$"));
  for (const auto& [record, line] :
       {std::pair{records[0], first_line}, {records[1], second_line}}) {
    ASSERT_EQ(record.size(), 26 + line.size()) << record.toStdString();
    const auto match = stamp.match(QString::fromLatin1(record.left(26)));
    ASSERT_TRUE(match.hasMatch()) << record.toStdString();
    // The file is named after the date in its records.
    EXPECT_EQ(match.captured(3) + match.captured(2) + match.captured(1),
              QFileInfo(TodayFile()).baseName());
    EXPECT_EQ(record.mid(26), line);
  }
  // The view shows the same line without the stamp.
  EXPECT_EQ(Lines().front(), QStringLiteral("Прибор      42\tОшибка №5 ✓ ok"));
}

TEST_F(LogTest, FileIsTouchedOnlyWhileTheBoxIsTicked) {
  form_.Session().Log().AddFormatted(0, 0, "before");
  EXPECT_FALSE(QFileInfo::exists(LogsPath()));

  FormUi(form_).cbWritelogToFile->setChecked(true);
  form_.Session().Log().AddFormatted(0, 0, "during");
  FormUi(form_).cbWritelogToFile->setChecked(false);
  form_.Session().Log().AddFormatted(0, 0, "after");

  const QByteArray bytes = ReadFile(TodayFile());
  EXPECT_EQ(bytes.count('\n'), 1);
  EXPECT_TRUE(bytes.contains("during"));
  EXPECT_EQ(Lines().size(), 3);
}

TEST_F(LogTest, UnwritableLogFolderIsToldOnceAndLosesOnlyTheFileLines) {
  QFile blocker(LogsPath());  // a file where the folder should be
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  FormUi(form_).cbWritelogToFile->setChecked(true);
  form_.Session().Log().AddFormatted(1, 3, "still shown");
  form_.Session().Log().AddFormatted(0, 0, "shown too");
  const QString told = QStringLiteral(
                           "Прибор -------\tЛог не записывается в файл: не удалось "
                           "создать папку %1/ (имя %1 занято файлом)")
                           .arg(LogsPath());
  EXPECT_EQ(Lines(), (QStringList{QStringLiteral("Прибор       3\tstill shown"), told,
                                  QStringLiteral("Прибор -------\tshown too")}));
  EXPECT_EQ(ReadFile(LogsPath()).size(), 0);

  // Once the folder can be made, lines reach the file again; a later failure is told anew.
  ASSERT_TRUE(QFile::remove(LogsPath()));
  form_.Session().Log().AddFormatted(0, 0, "in the file");
  EXPECT_TRUE(ReadFile(TodayFile()).contains("in the file"));
  ASSERT_TRUE(QFile::remove(TodayFile()));
  ASSERT_TRUE(QDir().mkpath(TodayFile()));  // the day's file name taken by a folder
  form_.Session().Log().AddFormatted(0, 0, "not in the file");
  EXPECT_TRUE(Lines().last().startsWith(
      QStringLiteral("Прибор -------\tЛог не записывается в файл: не удалось открыть файл %1 (")
          .arg(TodayFile())))
      << Lines().last().toStdString();
  EXPECT_EQ(Lines().size(), 6);
}

TEST_F(LogTest, LinesReachTheViewByThemselvesInOrder) {
  // The first line of a quiet view is shown at once; those that follow it within a frame come
  // with the next frame, unasked.
  QPlainTextEdit& view = *FormUi(form_).reLog;
  form_.Session().Log().Add(0, 1, "first");
  EXPECT_EQ(view.toPlainText(), QStringLiteral("Прибор       1\tfirst"));
  for (int i = 0; i < 50; ++i) {
    form_.Session().Log().AddFormatted(i % 3, 2, "line %d", i);
  }
  ASSERT_TRUE(test::PumpUntil([&] { return view.blockCount() == 51; }, 10000)) << view.blockCount();
  EXPECT_EQ(view.document()->lastBlock().text(), QStringLiteral("Прибор       2\tline 49"));
  EXPECT_EQ(view.document()->findBlockByNumber(26).text(),
            QStringLiteral("Прибор       2\tline 25"));
}

TEST_F(LogTest, SinkForwardsToTheDeviceLine) {
  const TLogSink sink = form_.Session().Log().Sink();
  sink(2, 9, "50%");
  EXPECT_EQ(Lines(), QStringList{QStringLiteral("Прибор       9\t50%")});
  EXPECT_EQ(View().document()->begin().begin().fragment().charFormat().foreground().color(),
            QColor(0, 128, 0));
}

}  // namespace
