// The settings file through the real window, offscreen: what a start applies from it, what a
// shutdown writes back, and files written by hand or damaged.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MainForm.h"
#include "SettingsFile.h"
#include "form_controls.h"
#include "form_fixture.h"
#include "form_rig.h"

using namespace updater;

namespace {

class SettingsTest : public test::TFormTest<test::TRecordingDialogs> {
 protected:
  QString Path() const { return dir_.filePath(QString::fromUtf8(kSettingsFileName)); }
  void WriteIni(const QByteArray& text) const {
    QFile file(Path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
  }
  QByteArray ReadIni() const {
    QFile file(Path());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  TMainForm& Start(std::vector<std::string> args = {"externfirmware"}) {
    return TFormTest::Start(std::move(args));
  }
  void Stop() { form_.reset(); }
};

QRect Desktop() {
  return QGuiApplication::primaryScreen()->virtualGeometry();
}

TEST_F(SettingsTest, NoFileStartsAsDesignedAndTheFirstShutdownWritesKeyValueLines) {
  TMainForm& form = Start();
  EXPECT_EQ(form.BdUrl(), "http://test.veltorium.example/prog.ashx");
  EXPECT_FALSE(FormUi(form).cbAutoWrite->isChecked());
  EXPECT_FALSE(FormUi(form).cbWritelogToFile->isChecked());
  EXPECT_TRUE(Recent().isEmpty());
  EXPECT_EQ(FormUi(form).edFWFile->currentText(), QString());
  const QRect outer = form.frameGeometry();
  const int log_height = FormUi(form).reLog->height();
  Stop();

  EXPECT_EQ(ReadIni().toStdString(),
            QStringLiteral("[COMMON]\nMainForm=%1,%2,%3,%4,0,%5,0\nLastFile=\n")
                .arg(outer.x())
                .arg(outer.y())
                .arg(outer.width())
                .arg(outer.height())
                .arg(log_height)
                .toStdString());
}

TEST_F(SettingsTest, RoundTripKeepsPlacementOptionsLogHeightAndFiles) {
  TMainForm& form = Start();
  form.move(40, 30);
  form.resize(700, 500);
  FormUi(form).cbAutoWrite->setChecked(true);
  FormUi(form).cbWritelogToFile->setChecked(true);
  FormUi(form).Splitter1->setSizes({FormUi(form).Splitter1->height() - 3 - 120, 120});
  FormUi(form).edFWFile->addItem(QStringLiteral("/srv/a.eraw"));
  FormUi(form).edFWFile->addItem(QStringLiteral("/srv/б в.raw"));
  FormUi(form).edFWFile->setEditText(QStringLiteral("/srv/typed.eraw"));
  const QRect outer = form.frameGeometry();
  Stop();

  TMainForm& again = Start();
  EXPECT_EQ(again.frameGeometry(), outer);
  EXPECT_TRUE(FormUi(again).cbAutoWrite->isChecked());
  EXPECT_TRUE(FormUi(again).cbWritelogToFile->isChecked());
  EXPECT_EQ(FormUi(again).reLog->height(), 120);
  EXPECT_EQ(Recent(), (QStringList{QStringLiteral("/srv/a.eraw"), QStringLiteral("/srv/б в.raw")}));
  EXPECT_EQ(FormUi(again).edFWFile->currentText(), QStringLiteral("/srv/typed.eraw"));
}

TEST_F(SettingsTest, HandWrittenFileKeepsItsOrderAndForeignEntries) {
  WriteIni(
      "; kept with its section\n"
      "[OTHER]\n"
      "x=1\n"
      "\n"
      "[COMMON]\n"
      "LastFile=/srv/last.eraw\n"
      "Foreign=keep me\n"
      "MainForm=abc\n"
      "BDURL=http://elsewhere.example/p\n"
      "\n"
      "[FILES]\n"
      "b=/srv/b.eraw\n"
      "a=\n"
      "z=/srv/b.eraw\n"
      "1=/srv/old one.eraw\n");
  TMainForm& form = Start();
  EXPECT_EQ(form.BdUrl(), "http://elsewhere.example/p");
  // Key names do not matter, an empty value is no item, equal values stay apart.
  EXPECT_EQ(Recent(), (QStringList{QStringLiteral("/srv/b.eraw"), QStringLiteral("/srv/b.eraw"),
                                   QStringLiteral("/srv/old one.eraw")}));
  EXPECT_EQ(FormUi(form).edFWFile->currentText(), QStringLiteral("/srv/last.eraw"));
  const QRect outer = form.frameGeometry();
  const int log_height = FormUi(form).reLog->height();
  Stop();

  const std::string saved = ReadIni().toStdString();
  // The library lays out blank lines its own way; the entries and their order are the file's.
  EXPECT_EQ(saved, QStringLiteral("; kept with its section\n"
                                  "\n"
                                  "\n"
                                  "[OTHER]\n"
                                  "x=1\n"
                                  "\n"
                                  "\n"
                                  "[COMMON]\n"
                                  "LastFile=/srv/last.eraw\n"
                                  "Foreign=keep me\n"
                                  "MainForm=%1,%2,%3,%4,0,%5,0\n"
                                  "BDURL=http://elsewhere.example/p\n"
                                  "\n"
                                  "\n"
                                  "[FILES]\n"
                                  "b=/srv/b.eraw\n"
                                  "a=\n"
                                  "z=/srv/b.eraw\n"
                                  "1=/srv/b.eraw\n"
                                  "0=/srv/b.eraw\n"
                                  "2=/srv/old one.eraw\n")
                       .arg(outer.x())
                       .arg(outer.y())
                       .arg(outer.width())
                       .arg(outer.height())
                       .arg(log_height)
                       .toStdString());

  // The next start lists the files under both their old and their new keys; "1" was
  // overwritten.
  EXPECT_EQ(FormUi(Start()).edFWFile->count(), 5);
}

TEST_F(SettingsTest, CommandLineFileWinsOverLastFile) {
  WriteIni("[COMMON]\nLastFile=/srv/last.eraw\n");
  const QString named = dir_.filePath(QStringLiteral("given.eraw"));
  QFile given(named);
  ASSERT_TRUE(given.open(QIODevice::WriteOnly));
  given.close();
  EXPECT_EQ(FormUi(Start({named.toStdString()})).edFWFile->currentText(), named);
}

TEST_F(SettingsTest, EmbeddedRunWritesAnEmptyLastFileAndTheListUnchanged) {
  WriteIni("[COMMON]\nLastFile=/srv/last.eraw\n[FILES]\n0=/srv/a.eraw\n1=/srv/b.eraw\n");
  TMainForm& form = Start({});
  EXPECT_EQ(FormUi(form).edFWFile->currentText(), QString());
  Stop();
  const QByteArray text = ReadIni();
  EXPECT_TRUE(text.contains("LastFile=\n")) << text.toStdString();
  EXPECT_TRUE(text.endsWith("[FILES]\n0=/srv/a.eraw\n1=/srv/b.eraw\n")) << text.toStdString();
}

TEST_F(SettingsTest, PlacementValuesApplyOneByOne) {
  // Where a window without settings goes, and what it shows.
  TMainForm& plain = Start();
  const QPoint designed = plain.pos();
  const QSize designed_size = plain.frameGeometry().size();
  const int designed_log = FormUi(plain).reLog->height();
  Stop();

  const int w = Desktop().width();
  const int h = Desktop().height();
  struct Case {
    std::string text;
    QPoint pos;
    QSize size;
    bool auto_write;
    int log;
    bool log_file;
  };
  const std::vector<Case> cases = {
      {"100,50", designed, designed_size, false, designed_log, false},
      {"abc", designed, designed_size, false, designed_log, false},
      {"100,50,700,500", {100, 50}, {700, 500}, false, designed_log, false},
      {"100,50,700,500,1", {100, 50}, {700, 500}, true, designed_log, false},
      {"-1,-1,700,500,1,200,0", designed, {700, 500}, true, 200, false},
      {"-5,-7,-1,-1,0,-1,1", designed, designed_size, false, designed_log, true},
      {std::to_string(w - 100) + "," + std::to_string(h - 100) + ",700,500",
       designed,
       {700, 500},
       false,
       designed_log,
       false},
      {std::to_string(w - 101) + "," + std::to_string(h - 101) + ",700,500",
       {w - 101, h - 101},
       {700, 500},
       false,
       designed_log,
       false},
      {"10, 20,700,500", {10, 20}, {700, 500}, false, designed_log, false},
      {" 10 ,20,700,500", designed, designed_size, false, designed_log, false},
      {"10,20,700,500,1,150,1,99", {10, 20}, {700, 500}, true, 150, true},
      {"99999999999,20,700,500", {designed.x(), 20}, {700, 500}, false, designed_log, false},
  };
  for (const Case& c : cases) {
    WriteIni(QByteArray("[COMMON]\nMainForm=") + c.text.c_str() + "\n");
    TMainForm& form = Start();
    // An axis that is not applied keeps where the system put the window, which the offscreen
    // platform settles only after the first show, by up to its frame margin.
    const int margin = (form.frameGeometry().width() - form.width()) / 2;
    EXPECT_NEAR(form.pos().x(), c.pos.x(), c.pos.x() == designed.x() ? margin : 0) << c.text;
    EXPECT_NEAR(form.pos().y(), c.pos.y(), c.pos.y() == designed.y() ? margin : 0) << c.text;
    EXPECT_EQ(form.frameGeometry().size(), c.size) << c.text;
    EXPECT_EQ(FormUi(form).cbAutoWrite->isChecked(), c.auto_write) << c.text;
    EXPECT_EQ(FormUi(form).reLog->height(), c.log) << c.text;
    EXPECT_EQ(FormUi(form).cbWritelogToFile->isChecked(), c.log_file) << c.text;
    Stop();
  }
}

TEST_F(SettingsTest, SizesStayWithinTheWindowsLimitsAndTheDesktop) {
  WriteIni("[COMMON]\nMainForm=0,0,10,2000000000,0,2000000000,0\n");
  TMainForm& form = Start();
  EXPECT_EQ(form.width(), form.minimumWidth());
  EXPECT_LE(form.frameGeometry().height(), Desktop().height());
  EXPECT_LT(FormUi(form).reLog->height(), FormUi(form).Panel1->height());
}

TEST_F(SettingsTest, DamagedFilesReadWithoutHarm) {
  const std::string long_value(2 * 1024 * 1024, 'x');
  WriteIni(QByteArray("[FILES]\nno equals sign here\n=no key\n0=/srv/a.eraw\n") +
           "1=" + QByteArray::fromStdString(long_value) + "\n" +
           "[COMMON\n"
           "[FILES]\n"
           "2=/srv/\xff\xfe.eraw\n"
           "[\xc3\x28]\n"
           "k=v\n"
           "[COMMON]\nMainForm=1,2,700,500,1,100,1\n[COMMON]\nBDURL=u\n");
  TMainForm& form = Start();
  ASSERT_EQ(FormUi(form).edFWFile->count(), 3);
  EXPECT_EQ(FormUi(form).edFWFile->itemText(0), QStringLiteral("/srv/a.eraw"));
  EXPECT_EQ(FormUi(form).edFWFile->itemText(1).size(), static_cast<qsizetype>(long_value.size()));
  EXPECT_TRUE(FormUi(form).cbAutoWrite->isChecked());  // both COMMON sections count
  EXPECT_EQ(form.BdUrl(), "u");
  Stop();
  const QByteArray text = ReadIni();
  EXPECT_TRUE(text.contains("[\xc3\x28]\nk=v\n")) << "a foreign section with a non-UTF-8 name";
}

TEST_F(SettingsTest, AnUnwritableFileLeavesTheShutdownAndTheUserAlone) {
  // A folder where the file should be: read as empty, never replaced.
  ASSERT_TRUE(QDir().mkpath(Path()));
  std::vector<std::string> steps;
  TMainForm& form = Start();
  form.OnStep = [&steps](std::string_view step) { steps.emplace_back(step); };
  FormUi(form).cbAutoWrite->setChecked(true);
  Stop();
  EXPECT_EQ(steps, (std::vector<std::string>{"SaveSettings", "Shutdown", "CloseDevices"}));
  EXPECT_TRUE(QFileInfo(Path()).isDir());
  EXPECT_TRUE(dialogs_.Errors.isEmpty());
}

TEST_F(SettingsTest, AReadOnlyFolderKeepsTheOldFile) {
  WriteIni("[COMMON]\nMainForm=1,2,700,500,0,100,0\n");
  const QByteArray before = ReadIni();
  ASSERT_EQ(::chmod(QFile::encodeName(Path()).constData(), 0444), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(dir_.path()).constData(), 0555), 0);
  if (::access(QFile::encodeName(Path()).constData(), W_OK) == 0) {
    ::chmod(QFile::encodeName(dir_.path()).constData(), 0755);
    GTEST_SKIP() << "permissions do not bind this user";
  }
  TMainForm& form = Start();
  FormUi(form).cbAutoWrite->setChecked(true);
  Stop();
  ::chmod(QFile::encodeName(dir_.path()).constData(), 0755);
  EXPECT_EQ(ReadIni(), before);
  EXPECT_TRUE(dialogs_.Errors.isEmpty());
}

TEST_F(SettingsTest, ASettingsFolderThatCannotBeMadeIsToldAndTheRunGoesOn) {
  // A file where a parent of the settings folder should be.
  QFile blocker(dir_.filePath(QStringLiteral("taken")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString folder = dir_.filePath(QStringLiteral("taken/veltorium-updater"));
  SetSettingsFolder(folder.toStdString());

  TMainForm& form = Start();
  form.ShowFrameNow();
  EXPECT_EQ(FormUi(form).reLog->toPlainText().split(QLatin1Char('\n')).first(),
            QStringLiteral("Прибор -------\tНастройки не будут сохранены: не удалось создать "
                           "папку %1/ (имя %2 занято файлом)")
                .arg(folder, blocker.fileName()));
  FormUi(form).cbAutoWrite->setChecked(true);
  Stop();
  EXPECT_TRUE(QFileInfo(blocker.fileName()).isFile());
  EXPECT_EQ(QFileInfo(blocker.fileName()).size(), 0);
  EXPECT_TRUE(dialogs_.Errors.isEmpty());
}

// A line that begins with the UTF-8 signature in the middle of a file is an entry of the
// unnamed section. Set out first by a shutdown, it must not turn into the signature and a
// [FILES] section that the next start would read as the list of recent files.
TEST(SettingsFileText, AnEntryBeginningWithTheSignatureReadsBackAsItWas) {
  TSettingsFile file("");
  ASSERT_TRUE(file.Parse("junk\n\xEF\xBB\xBF[FILES]x=1\ny=2\n[COMMON]\nBDURL=u\n"));
  ASSERT_TRUE(file.Keys("FILES").empty());
  const std::optional<std::string> text = file.Text();
  ASSERT_TRUE(text.has_value());
  TSettingsFile again("");
  ASSERT_TRUE(again.Parse(*text)) << *text;
  EXPECT_TRUE(again.Keys("FILES").empty()) << *text;
  EXPECT_EQ(again.Keys(""), file.Keys("")) << *text;
  EXPECT_EQ(again.Value("COMMON", "BDURL", ""), "u");
}

}  // namespace
