// The real executable, started as separate processes from a private copy: single instance,
// the integrity check, the missing-library boxes and the ending by signal. Boxes go to stderr
// (UPDATER_DIALOGS_TO_STDERR) unless a test needs them to wait; the traces come from the
// "updater.instance" and "updater.dialogs" categories.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "child_signal.h"
#include "form_rig.h"

namespace {

const QString kFtdiBoxLine =
    QStringLiteral("Veltorium Firmware Loader: Драйвер устройств FTDI не установлен.");
const QString kServing = QStringLiteral("serving restore requests");

class ProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(app_dir_.isValid());
    ASSERT_TRUE(runtime_dir_.isValid());
    exe_ = app_dir_.path() + QStringLiteral("/veltorium-updater");
    ASSERT_TRUE(QFile::copy(QStringLiteral(UPDATER_EXE), exe_));
  }

  void AddMakersLibrary() {
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZIZUZ_LIB), app_dir_.path() + "/libZIZUZ.so"));
  }

  // real_boxes: the boxes are real and wait for a key nobody presses.
  std::unique_ptr<QProcess> Start(const QString& program, bool minimized = false,
                                  bool real_boxes = false) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    if (real_boxes) {
      env.remove("UPDATER_DIALOGS_TO_STDERR");
    } else {
      env.insert("UPDATER_DIALOGS_TO_STDERR", "1");
    }
    env.insert("XDG_RUNTIME_DIR", runtime_dir_.path());
    env.insert("QT_LOGGING_RULES", "updater.instance.debug=true;updater.dialogs.debug=true");
    env.insert("LD_LIBRARY_PATH", "");
    if (minimized) {
      env.insert("UPDATER_START_MINIMIZED", "1");
    }
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(app_dir_.path());
    process->start(program, {});
    EXPECT_TRUE(process->waitForStarted(10000));
    return process;
  }

  // Everything the process wrote to stderr so far, kept across reads.
  QString Err(QProcess& process) {
    errs_[&process] += QString::fromUtf8(process.readAllStandardError());
    return errs_[&process];
  }

  bool WaitForErr(QProcess& process, const QString& text, int count = 1) {
    return updater::test::PumpUntil(
        [&] {
          process.waitForReadyRead(20);
          return Err(process).count(text) >= count;
        },
        20000);
  }

  static int Finish(QProcess& process) {
    EXPECT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return process.exitCode();
  }

  bool LockFileExists() const {
    return !QDir(runtime_dir_.path())
                .entryList({QStringLiteral("ZIZUZFirmwareLoaderBaseMutex-*.lock")})
                .isEmpty();
  }

  QTemporaryDir app_dir_;
  QTemporaryDir runtime_dir_;
  QString exe_;
  std::map<QProcess*, QString> errs_;
};

TEST_F(ProcessTest, SecondStartRestoresAMinimisedFirstAndEndsWithZero) {
  AddMakersLibrary();
  auto first = Start(exe_, /*minimized=*/true);
  ASSERT_TRUE(WaitForErr(*first, kServing)) << Err(*first).toStdString();

  auto second = Start(exe_);
  EXPECT_EQ(Finish(*second), 0);
  // No second window: the second process never reached its start-up boxes.
  EXPECT_FALSE(Err(*second).contains(kFtdiBoxLine)) << Err(*second).toStdString();
  EXPECT_TRUE(WaitForErr(*first, QStringLiteral("restore request: window restored")));

  // A window that is not minimised is left alone.
  auto third = Start(exe_);
  EXPECT_EQ(Finish(*third), 0);
  EXPECT_TRUE(WaitForErr(*first, QStringLiteral("window not minimised, left alone")));
  EXPECT_EQ(first->state(), QProcess::Running);

  // SIGTERM closes the window like its close button: a normal end with 0.
  first->terminate();
  EXPECT_EQ(Finish(*first), 0);
  EXPECT_EQ(Err(*first).count(kFtdiBoxLine), 1);
}

TEST_F(ProcessTest, LockOfAKilledInstanceDoesNotBlockTheNextStart) {
  AddMakersLibrary();
  auto first = Start(exe_);
  ASSERT_TRUE(WaitForErr(*first, kServing));
  first->kill();
  first->waitForFinished(20000);
  ASSERT_TRUE(LockFileExists());

  auto next = Start(exe_);
  ASSERT_TRUE(WaitForErr(*next, kServing)) << Err(*next).toStdString();
  auto other = Start(exe_);
  EXPECT_EQ(Finish(*other), 0);
  ASSERT_TRUE(test::SignalChild(*next, SIGINT));
  EXPECT_EQ(Finish(*next), 0);
}

// A start-up box waits for a key; SIGTERM or SIGINT closes it, the boxes still to come do not
// wait, and the window closes as its close button does: settings saved, exit 0.
TEST_F(ProcessTest, SignalClosesAWaitingBoxAndEndsLikeTheCloseButton) {
  const QString settings = app_dir_.path() + QStringLiteral("/ZUDUDerovo.ini");
  const QString ql_box_line =
      QStringLiteral("Veltorium Firmware Loader: Драйвер устройств QL не установлен.");
  struct Case {
    const char* name;
    bool makers_library;
    int signal;
  };
  // Without the maker's library two more boxes would follow the first.
  for (const Case& c : {Case{"neither library, SIGINT", false, SIGINT},
                        Case{"no FTDI library, SIGTERM", true, SIGTERM}}) {
    SCOPED_TRACE(c.name);
    QFile::remove(settings);
    if (c.makers_library) {
      AddMakersLibrary();
    }
    auto process = Start(exe_, /*minimized=*/false, /*real_boxes=*/true);
    ASSERT_TRUE(
        WaitForErr(*process, QStringLiteral("box waits: Драйвер устройств FTDI не установлен.")))
        << Err(*process).toStdString();
    EXPECT_FALSE(QFile::exists(settings));
    ASSERT_TRUE(test::SignalChild(*process, c.signal));
    EXPECT_EQ(Finish(*process), 0);
    EXPECT_TRUE(QFile::exists(settings));
    const QString err = Err(*process);
    EXPECT_EQ(err.count(QStringLiteral("box waits:")), 1) << err.toStdString();
    // The boxes nobody can answer any more are not lost.
    EXPECT_EQ(err.contains(ql_box_line), !c.makers_library) << err.toStdString();
  }
}

TEST_F(ProcessTest, NeitherLibraryShowsThreeBoxesInOrderAndEnds) {
  auto process = Start(exe_);
  EXPECT_EQ(Finish(*process), 0);
  const QString err = Err(*process);
  const qsizetype ftdi = err.indexOf(kFtdiBoxLine);
  const qsizetype ql =
      err.indexOf(QStringLiteral("Veltorium Firmware Loader: Драйвер устройств QL не установлен."));
  const qsizetype first_start = err.indexOf(QStringLiteral(
      "Veltorium Firmware Loader: Перед первым запуском программы подключите устройство к USB "
      "и установите драйвер."));
  EXPECT_TRUE(ftdi >= 0 && ql > ftdi && first_start > ql) << err.toStdString();
}

// Ways to damage a copy of the executable; none touches a byte the loader needs to start it.
void FlipCompilerNote(QByteArray& image) {
  qsizetype at = image.indexOf("GCC: (");
  if (at < 0) {
    at = image.indexOf("clang version");
  }
  ASSERT_GE(at, 0);
  image[at + 1] = static_cast<char>(image[at + 1] ^ 0x20);
}

TEST_F(ProcessTest, DamagedExecutableShowsItsBoxAndEndsWithoutWindow) {
  const std::vector<std::pair<const char*, std::function<void(QByteArray&)>>> damages = {
      {"a flipped byte", FlipCompilerNote},
      {"a byte appended", [](QByteArray& image) { image.append('\0'); }},
  };
  for (const auto& [name, damage] : damages) {
    QFile original(exe_);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    QByteArray image = original.readAll();
    original.close();
    damage(image);
    const QString damaged = app_dir_.path() + QStringLiteral("/damaged");
    QFile::remove(damaged);
    QFile out(damaged);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(image);
    out.close();
    out.setPermissions(QFile::permissions(exe_));

    auto process = Start(damaged);
    EXPECT_EQ(Finish(*process), 1) << name;
    const QString err = Err(*process);
    EXPECT_TRUE(err.startsWith(QStringLiteral("Veltorium Firmware Loader: Исполняемый файл")))
        << name << ": " << err.toStdString();
    EXPECT_FALSE(err.contains(kFtdiBoxLine)) << name;
    EXPECT_FALSE(LockFileExists()) << name;
  }
  // The undamaged copy passes the same check.
  AddMakersLibrary();
  auto intact = Start(exe_);
  ASSERT_TRUE(WaitForErr(*intact, kServing)) << Err(*intact).toStdString();
  intact->terminate();
  EXPECT_EQ(Finish(*intact), 0);
}

}  // namespace
