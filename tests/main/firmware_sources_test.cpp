// The firmware sources through the real window, offscreen: the embedded image at start, files
// read with the read button and the dialog, the recent-file list, the labels and the log.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Dialogs.h"
#include "EmbeddedImage.h"
#include "FirmwareFileReader.h"
#include "MainForm.h"
#include "SettingsFile.h"
#include "form_controls.h"
#include "form_fixture.h"
#include "form_rig.h"

using namespace updater;

namespace {

const QString kUnknown = QStringLiteral("Неизвестна");
const QString kNoDevice = QStringLiteral("Прибор -------\t");

// Answers the file dialog in advance and keeps what it was shown.
class TFileDialogs : public test::TRecordingDialogs {
 public:
  QString OpenFileName(QWidget*, const QString& directory, const QString& filter) override {
    ++Shown;
    ShownDirectory = directory;
    ShownFilter = filter;
    return FileAnswer;
  }
  int Shown = 0;
  QString ShownDirectory;
  QString ShownFilter;
};

void Put16(std::vector<uint8_t>& image, size_t at, uint32_t value) {
  image[at] = static_cast<uint8_t>(value);
  image[at + 1] = static_cast<uint8_t>(value >> 8);
}

// An image without a build date that passes every check.
std::vector<uint8_t> MakeImage(const std::string& version, size_t payload) {
  const size_t length = 8 + version.size() + payload;
  std::vector<uint8_t> image(length, 0x5A);
  Put16(image, 0, static_cast<uint32_t>(length));
  Put16(image, 2, static_cast<uint32_t>(length >> 16));
  Put16(image, 4, 0);
  Put16(image, 6, static_cast<uint32_t>(version.size()));
  std::copy(version.begin(), version.end(), image.begin() + 8);
  Put16(image, 4, Checksum16(image.data(), static_cast<uint16_t>(length)));
  return image;
}

class FirmwareSourcesTest : public test::TFormTest<TFileDialogs> {
 protected:
  QString Write(const QString& name, const std::vector<uint8_t>& bytes) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return path;
  }

  // The log lines added since the last call, without their device prefix where it is there.
  QStringList NewLines() {
    form_->ShowFrameNow();
    const QStringList all = FormUi(*form_).reLog->toPlainText().split(QLatin1Char('\n'));
    QStringList lines;
    for (qsizetype i = seen_; i < all.size(); ++i) {
      if (!all[i].isEmpty()) {
        lines << (all[i].startsWith(kNoDevice) ? all[i].mid(kNoDevice.size()) : all[i]);
      }
    }
    seen_ = all.size();
    return lines;
  }

  void Labels(const QString& version, const QString& date) const {
    EXPECT_EQ(FormUi(*form_).lblFileVer->text(), version);
    EXPECT_EQ(FormUi(*form_).lblFirmwDate->text(), date);
  }

  // Reads name with the read button.
  QStringList Read(const QString& name) {
    NewLines();
    FormUi(*form_).edFWFile->setEditText(name);
    form_->btnFwLoadClick();
    return NewLines();
  }

  static QStringList Loaded(const QString& path, const QString& version) {
    return {QStringLiteral("Загружена прошивка из файла \"%1\"").arg(path),
            QStringLiteral("Версия прошивки \"%1\"").arg(version),
            QStringLiteral("Дата компиляции \"неизвестна\"")};
  }

  const QString kFailed = QStringLiteral("Ошибка загрузки прошивки");
  const QString kWrongSize = QString::fromUtf8(kWrongImageSizeText);

  qsizetype seen_ = 0;
};

TEST_F(FirmwareSourcesTest, EmbeddedStartShowsTheResourceImage) {
  TMainForm& form = Start({});
  const std::string sep = TimeSeparator();
  const QString date = QString::fromStdString("07-11-2013 16" + sep + "25" + sep + "19");
  EXPECT_EQ(NewLines(), (QStringList{QStringLiteral("Загружена прошивка из ресурсов"),
                                     QStringLiteral("Версия прошивки \"ROZI-1.16\""),
                                     QStringLiteral("Дата компиляции \"%1\"").arg(date)}));
  Labels(QStringLiteral("ROZI-1.16"), date);
  EXPECT_FALSE(form.Session().FileMode());
  EXPECT_EQ(form.Session().ImageVersion().VersionText(), "ROZI-1.16");

  // A write job's load in embedded mode: its own record and blocks, nothing added anywhere.
  TFirmwareBlockList blocks;
  TFirmwareVersion version;
  ASSERT_TRUE(form.Session().LoadImage(blocks, version));
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0]->Size, 131072);
  EXPECT_EQ(blocks[0]->Address, -1);
  EXPECT_TRUE(Recent().isEmpty());
}

TEST_F(FirmwareSourcesTest, FileModeWithAnEmptyBoxFindsNoFile) {
  Start({"externfirmware"});
  EXPECT_EQ(NewLines(),
            (QStringList{QStringLiteral("Загрузка прошивки: Файл  не найден"), kFailed}));
  Labels(kUnknown, kUnknown);
  EXPECT_TRUE(Recent().isEmpty());
  EXPECT_TRUE(form_->Session().FileMode());
}

TEST_F(FirmwareSourcesTest, ReadsAddEachGoodFileOnceAtTheTopAndFailuresKeepTheLabels) {
  TMainForm& form = Start({"externfirmware"});
  const QString a = Write("a.eraw", MakeImage("ROZI-1.16", 64));
  const QString c_file = Write("c.raw", MakeImage("VTST-2.15", 3));
  std::vector<uint8_t> damaged = MakeImage("ROZI-1.17", 64);
  damaged[8] ^= 1;
  const QString bad_sum = Write("bad.eraw", damaged);
  std::vector<uint8_t> short_one = MakeImage("ROZI-1.17", 64);
  short_one.pop_back();
  const QString bad_size = Write("short.eraw", short_one);
  const QString bad_version = Write("noversion.eraw", MakeImage("ROZI", 4));
  const QString empty = Write("empty.eraw", {});
  const QString folder = dir_.filePath("folder.eraw");
  ASSERT_TRUE(QDir().mkpath(folder));

  EXPECT_EQ(Read(a), Loaded(a, "ROZI-1.16"));
  EXPECT_EQ(Read(a), Loaded(a, "ROZI-1.16"));
  EXPECT_EQ(Recent(), QStringList{a});
  EXPECT_EQ(Read(c_file), Loaded(c_file, "VTST-2.15"));
  EXPECT_EQ(Read(a), Loaded(a, "ROZI-1.16"));
  EXPECT_EQ(Recent(), (QStringList{c_file, a}));  // a known file keeps its place
  Labels(QStringLiteral("ROZI-1.16"), QStringLiteral("неизвестна"));

  struct Case {
    QString name;
    QStringList lines;
  };
  const std::vector<Case> failures = {
      {bad_sum, {QStringLiteral("Ошибка контрольной суммы файла прошивки"), kFailed}},
      {bad_size, {kWrongSize, kFailed}},
      {empty, {kWrongSize, kFailed}},
      {bad_version, {kFailed}},
      {folder, {QStringLiteral("Загрузка прошивки: Файл %1 не найден").arg(folder), kFailed}},
      {dir_.filePath("missing.eraw"),
       {QStringLiteral("Загрузка прошивки: Файл %1 не найден").arg(dir_.filePath("missing.eraw")),
        kFailed}},
  };
  for (const Case& c : failures) {
    EXPECT_EQ(Read(c.name), c.lines) << c.name.toStdString();
    Labels(QStringLiteral("ROZI-1.16"), QStringLiteral("неизвестна"));
    EXPECT_EQ(Recent(), (QStringList{c_file, a}));
  }
  EXPECT_EQ(FormUi(form).edFWFile->currentText(), dir_.filePath("missing.eraw"));
}

TEST_F(FirmwareSourcesTest, CaseMattersInTheRecentList) {
  Start({"externfirmware"});
  const QString lower = Write("img.eraw", MakeImage("ROZI-1.16", 8));
  const QString upper = Write("IMG.eraw", MakeImage("ROZI-1.16", 8));
  Read(lower);
  Read(upper);
  EXPECT_EQ(Recent(), (QStringList{upper, lower}));
}

TEST_F(FirmwareSourcesTest, AJobLoadsTheTypedNameWithoutAddingIt) {
  TMainForm& form = Start({"externfirmware"});
  const QString a = Write("a.eraw", MakeImage("ROZI-1.16", 64));
  const QString d = Write("d.eraw", MakeImage("ROZI-2.11", 16));
  Read(a);
  const TFirmwareVersion shown = form.Session().ImageVersion();

  FormUi(form).edFWFile->setEditText(d);  // typed, not read
  TFirmwareBlockList blocks;
  blocks.push_back(std::make_unique<TFirmwareBlock>(nullptr, 0, 7));  // emptied first
  TFirmwareVersion version;
  ASSERT_TRUE(form.Session().LoadImage(blocks, version));
  EXPECT_EQ(NewLines(), Loaded(d, "ROZI-2.11"));
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0]->Size, 16);
  EXPECT_EQ(version.VersionText(), "ROZI-2.11");
  Labels(QStringLiteral("ROZI-2.11"), QStringLiteral("неизвестна"));
  EXPECT_EQ(Recent(), QStringList{a});
  EXPECT_EQ(form.Session().ImageVersion().VersionText(), shown.VersionText());
}

TEST_F(FirmwareSourcesTest, HugeFilesAndEndlessDevicesGiveTheSizeErrorUnread) {
  Start({"externfirmware"});
  // 8 GiB on paper, nothing on disk: only its length word may be read.
  const QString sparse = dir_.filePath("huge.eraw");
  {
    const std::vector<uint8_t> head = MakeImage("ROZI-1.16", 4);
    Write("huge.eraw", head);
    ASSERT_EQ(::truncate(QFile::encodeName(sparse).constData(), off_t{8} << 30), 0);
  }
  EXPECT_EQ(Read(sparse), (QStringList{kWrongSize, kFailed}));
  EXPECT_EQ(Read(QStringLiteral("/dev/zero")), (QStringList{kWrongSize, kFailed}));
  EXPECT_TRUE(Recent().isEmpty());
  Labels(kUnknown, kUnknown);

  const TFirmwareFile read = ReadFirmwareFile(QFile::encodeName(sparse).toStdString());
  EXPECT_EQ(read.Status, TFirmwareFile::kTooLarge);
  EXPECT_TRUE(read.Bytes.empty());
  EXPECT_FALSE(read.LengthWordMatches);
}

// One byte longer than any image that could pass, with a length word that agrees: only the
// oversize error can end it, and it leaves the read button for the application's error box.
TEST_F(FirmwareSourcesTest, OversizeFileWithAnHonestLengthWordThrows) {
  Start({"externfirmware"});
  const size_t length = kMaxFirmwareImageSize + 1;
  std::vector<uint8_t> image = MakeImage("ROZI-1.16", length - 8 - 9);
  ASSERT_EQ(image.size(), length);
  const QString path = Write("over.eraw", image);
  NewLines();
  FormUi(*form_).edFWFile->setEditText(path);
  EXPECT_THROW(form_->btnFwLoadClick(), TFirmwareBlockTooLarge);
  EXPECT_TRUE(NewLines().isEmpty());
  EXPECT_TRUE(Recent().isEmpty());

  // Run by the event loop, as a press of the button is, the error reaches the application's
  // error box with its message.
  qputenv("UPDATER_DIALOGS_TO_STDERR", "1");
  testing::internal::CaptureStderr();
  TMainForm* form = form_.get();
  QMetaObject::invokeMethod(
      form, [form] { form->btnFwLoadClick(); }, Qt::QueuedConnection);
  QCoreApplication::processEvents();
  const std::string boxes = testing::internal::GetCapturedStderr();
  qunsetenv("UPDATER_DIALOGS_TO_STDERR");
  EXPECT_NE(boxes.find("Veltorium Firmware Loader: Слишком большой размер блока прошивки"),
            std::string::npos)
      << boxes;
  EXPECT_TRUE(Recent().isEmpty());

  // The largest image the check could take is still read whole.
  image.pop_back();
  Put16(image, 0, static_cast<uint32_t>(image.size()));
  Put16(image, 2, static_cast<uint32_t>(image.size() >> 16));
  const QString largest = Write("largest.eraw", image);
  const TFirmwareFile read = ReadFirmwareFile(QFile::encodeName(largest).toStdString());
  EXPECT_EQ(read.Status, TFirmwareFile::kRead);
  EXPECT_EQ(read.Bytes.size(), kMaxFirmwareImageSize);
}

TEST_F(FirmwareSourcesTest, AFileLockedByAnotherOpenerIsNotRead) {
  Start({"externfirmware"});
  const QString path = Write("locked.eraw", MakeImage("ROZI-1.16", 8));
  const int holder = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Read(path), QStringList{kFailed});
  EXPECT_TRUE(Recent().isEmpty());
  ::close(holder);
  EXPECT_EQ(Read(path), Loaded(path, "ROZI-1.16"));  // the lock went with the holder
}

TEST_F(FirmwareSourcesTest, StreamsAreReadToTheirEndOrTheLimitWithoutWaiting) {
  EXPECT_EQ(ReadFirmwareFile("/dev/zero", 16).Status, TFirmwareFile::kTooLarge);
  const TFirmwareFile null_device = ReadFirmwareFile("/dev/null", 16);
  EXPECT_EQ(null_device.Status, TFirmwareFile::kRead);
  EXPECT_TRUE(null_device.Bytes.empty());
  // A pipe nobody writes to reads as empty instead of hanging the window.
  const QByteArray fifo = QFile::encodeName(dir_.filePath("pipe.eraw"));
  ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
  const TFirmwareFile pipe = ReadFirmwareFile(fifo.toStdString(), 16);
  EXPECT_EQ(pipe.Status, TFirmwareFile::kRead);
  EXPECT_TRUE(pipe.Bytes.empty());
}

TEST_F(FirmwareSourcesTest, DialogCancelChangesNothingAndConfirmReadsAtOnce) {
  TMainForm& form = Start({"externfirmware"});
  const QString a = Write("a.eraw", MakeImage("ROZI-1.16", 64));
  FormUi(form).edFWFile->setEditText(dir_.filePath("old.eraw"));
  NewLines();

  dialogs_.FileAnswer.clear();
  FormUi(form).btnFwOpen->click();
  EXPECT_EQ(dialogs_.Shown, 1);
  EXPECT_EQ(dialogs_.ShownDirectory, dir_.filePath("old.eraw"));
  EXPECT_EQ(dialogs_.ShownFilter,
            QStringLiteral("Encode Raw binary (*.eraw);;Raw binary (*.raw);;Any files (*)"));
  EXPECT_EQ(FormUi(form).edFWFile->currentText(), dir_.filePath("old.eraw"));
  EXPECT_TRUE(NewLines().isEmpty());
  Labels(kUnknown, kUnknown);

  dialogs_.FileAnswer = a;
  FormUi(form).btnFwOpen->click();
  EXPECT_EQ(FormUi(form).edFWFile->currentText(), a);
  EXPECT_EQ(NewLines(), Loaded(a, "ROZI-1.16"));
  EXPECT_EQ(Recent(), QStringList{a});
  Labels(QStringLiteral("ROZI-1.16"), QStringLiteral("неизвестна"));
}

}  // namespace
