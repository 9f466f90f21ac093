// The window's placement through real starts of the executable on a private X server, once
// with a window manager that draws frames (openbox) and once without one: the placement one
// run saves must come back unchanged in the next. The outer geometry is measured from the X
// server and the window manager (the client window and _NET_FRAME_EXTENTS), not from Qt.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>

#include "SettingsFile.h"
#include "child_signal.h"
#include "form_rig.h"

namespace {

using updater::test::PumpUntil;

// Generous: a busy machine may take long to start an X server or to map a window.
constexpr int kWaitMs = 60000;

QString MissingTool() {
  for (const char* tool : {"Xvfb", "openbox", "xdotool", "xwininfo", "xprop"}) {
    if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
      return QString::fromLatin1(tool);
    }
  }
  return {};
}

// A private X server on a free display number (it picks one itself and reports it), with an
// optional window manager. Both end with the object.
class TXServer {
 public:
  TXServer() { EXPECT_TRUE(home_.isValid()); }
  ~TXServer() {
    for (QProcess* process : {&wm_, &server_}) {
      if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(10000)) {
          process->kill();
          process->waitForFinished(10000);
        }
      }
    }
  }

  // Returns an empty text when the server (and the window manager) are ready, or what failed.
  QString Start(bool with_window_manager) {
    server_.setProcessChannelMode(QProcess::SeparateChannels);
    // An X server resets when its last client leaves, and a client that comes during the
    // reset is turned away: without a window manager, that is the program right after the
    // readiness probe, or after its own first run.
    server_.start(QStringLiteral("Xvfb"),
                  {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                   QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                   QStringLiteral("tcp"), QStringLiteral("-noreset")});
    QString number;
    PumpUntil(
        [&] {
          server_.waitForReadyRead(20);
          number += QString::fromLatin1(server_.readAllStandardOutput());
          return number.contains(QLatin1Char('\n')) || server_.state() == QProcess::NotRunning;
        },
        kWaitMs);
    number = number.trimmed();
    if (number.isEmpty()) {
      return QStringLiteral("Xvfb reported no display: ") +
             QString::fromLocal8Bit(server_.readAllStandardError());
    }
    display_ = QLatin1Char(':') + number;
    // The number comes as the server listens; a client is let in a moment later on a busy
    // machine, and a window manager that cannot connect gives up at once.
    const bool answering = PumpUntil(
        [&] { return !Run(QStringLiteral("xprop"), {QStringLiteral("-root")}).isEmpty(); },
        kWaitMs);
    if (!answering) {
      return QStringLiteral("Xvfb on %1 lets no client in").arg(display_);
    }
    if (!with_window_manager) {
      return {};
    }
    QProcessEnvironment env = Environment();
    // Nothing of the user's own configuration.
    env.insert(QStringLiteral("HOME"), home_.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.path());
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home_.path());
    wm_.setProcessEnvironment(env);
    wm_.setProcessChannelMode(QProcess::MergedChannels);
    wm_.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    const bool managing = PumpUntil(
        [&] {
          // What it supports is announced last; a program started earlier would not know
          // that the manager reports its frames.
          return wm_.state() == QProcess::NotRunning ||
                 Run(QStringLiteral("xprop"),
                     {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTED")})
                     .contains(QStringLiteral("_NET_FRAME_EXTENTS"));
        },
        kWaitMs);
    if (managing && wm_.state() != QProcess::NotRunning) {
      return {};
    }
    return QStringLiteral("openbox did not take over display %1 (%2, exit %3): %4")
        .arg(display_, wm_.state() == QProcess::NotRunning ? QStringLiteral("ended")
                                                           : QStringLiteral("running"))
        .arg(wm_.exitCode())
        .arg(QString::fromLocal8Bit(wm_.readAll()));
  }

  QProcessEnvironment Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("XAUTHORITY"));
    return env;
  }

  // Runs a short X client to its end; its standard output, empty when it failed.
  QString Run(const QString& program, const QStringList& args) const {
    QProcess process;
    process.setProcessEnvironment(Environment());
    process.start(program, args);
    if (!process.waitForFinished(kWaitMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
      return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
  }

  // The visible top-level window of a process; empty unless there is exactly one.
  QString WindowOf(qint64 pid) const {
    const QStringList ids =
        Run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--pid"), QString::number(pid)})
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return ids.size() == 1 ? ids[0] : QString();
  }

  // Asks for a new inner size of a window as any client may, and waits until it has it.
  bool Resize(const QString& id, const QSize& size) const {
    QProcess process;
    process.setProcessEnvironment(Environment());
    process.start(QStringLiteral("xdotool"),
                  {QStringLiteral("windowsize"), QStringLiteral("--sync"), id,
                   QString::number(size.width()), QString::number(size.height())});
    return process.waitForFinished(kWaitMs) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
  }

  // The outer geometry of the visible top-level window of a process as the X server and the
  // window manager place it: the client window grown by the frame the manager reports.
  std::optional<QRect> OuterGeometry(qint64 pid) const {
    const QString id = WindowOf(pid);
    if (id.isEmpty()) {
      return std::nullopt;
    }
    const QString info = Run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id});
    const auto field = [&info](const char* name) -> std::optional<int> {
      const QRegularExpressionMatch m =
          QRegularExpression(QString::fromLatin1(name) + QStringLiteral(":\\s*(-?\\d+)"))
              .match(info);
      return m.hasMatch() ? std::optional<int>(m.captured(1).toInt()) : std::nullopt;
    };
    const auto x = field("Absolute upper-left X");
    const auto y = field("Absolute upper-left Y");
    const auto w = field("Width");
    const auto h = field("Height");
    if (!x || !y || !w || !h || !info.contains(QStringLiteral("IsViewable"))) {
      return std::nullopt;
    }
    QRect outer(*x, *y, *w, *h);
    // "_NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom"; absent without a manager.
    const QRegularExpressionMatch extents =
        QRegularExpression(QStringLiteral("=\\s*(\\d+),\\s*(\\d+),\\s*(\\d+),\\s*(\\d+)"))
            .match(Run(QStringLiteral("xprop"),
                       {QStringLiteral("-id"), id, QStringLiteral("_NET_FRAME_EXTENTS")}));
    if (extents.hasMatch()) {
      outer.adjust(-extents.captured(1).toInt(), -extents.captured(3).toInt(),
                   extents.captured(2).toInt(), extents.captured(4).toInt());
    }
    return outer;
  }

 private:
  QTemporaryDir home_;
  QProcess server_;
  QProcess wm_;
  QString display_;
};

// How a sanitized program ends when a leak is all that is wrong with it (set for it below).
constexpr int kLeakExitCode = 23;

// Whether a leak report holds an allocation made by the program's own code, as far as the
// report's stacks go: a frame in its executable or in one of its source files. A thread of
// Qt's own (the X event reader, the D-Bus manager) lets go of its thread data only as the
// thread itself ends, which may come after the leak check at the program's exit: such a leak
// shows frames of system libraries alone and is not the program's.
bool LeakReportNamesTheProgram(const QString& err) {
  const qsizetype report = err.indexOf(QStringLiteral("ERROR: LeakSanitizer"));
  if (report < 0) {
    return false;
  }
  static const QRegularExpression own(QStringLiteral(
      "(?m)^\\s*#\\d+ 0x[0-9a-f]+ .*(?:\\bsrc/(?!libsanitizer/)[\\w/.-]+\\.(?:cpp|h):\\d+|"
      "/veltorium-updater\\+0x)"));
  return own.match(err, report).hasMatch();
}

QString Text(const QRect& r) {
  return QStringLiteral("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

class WindowPlacementTest : public testing::Test {
 protected:
  void SetUp() override {
    if (const QString missing = MissingTool(); !missing.isEmpty()) {
      GTEST_SKIP() << missing.toStdString() << " is not installed (scripts/deps.sh installs it)";
    }
    ASSERT_TRUE(app_dir_.isValid());
    ASSERT_TRUE(runtime_dir_.isValid());
    exe_ = app_dir_.path() + QStringLiteral("/veltorium-updater");
    ASSERT_TRUE(QFile::copy(QStringLiteral(UPDATER_EXE), exe_));
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZIZUZ_LIB), app_dir_.path() + "/libZIZUZ.so"));
  }

  QString SettingsPath() const {
    return app_dir_.filePath(QString::fromUtf8(updater::kSettingsFileName));
  }

  // The MainForm value of the settings file; empty when there is none.
  QString SavedPlacement() const {
    QFile file(SettingsPath());
    if (!file.open(QIODevice::ReadOnly)) {
      return {};
    }
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("(?m)^MainForm=(.*)$"))
                                          .match(QString::fromUtf8(file.readAll()));
    return m.hasMatch() ? m.captured(1) : QString();
  }

  // One run of the program: started, left until the X server shows its window at `expected`
  // and the window itself has seen that geometry, then `while_placed` (if any), then closed by
  // SIGTERM like its close button.
  void RunOnce(const TXServer& x, const QRect& expected,
               const std::function<void(qint64 pid)>& while_placed = {}) {
    QProcess process;
    QProcessEnvironment env = x.Environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("UPDATER_DIALOGS_TO_STDERR"), QStringLiteral("1"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_dir_.path());
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("updater.placement.debug=true"));
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), QString());
    // The X11 platform brings in D-Bus, whose own leak would end a sanitized build's run with
    // an error; anything leaked by the program itself is still reported.
    env.insert(QStringLiteral("LSAN_OPTIONS"),
               QStringLiteral("suppressions=" LSAN_THIRD_PARTY ":print_suppressions=0:exitcode=%1")
                   .arg(kLeakExitCode));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(app_dir_.path());
    process.start(exe_, {});
    ASSERT_TRUE(process.waitForStarted(kWaitMs));

    QString err;
    std::optional<QRect> seen;
    const QString traced = QStringLiteral("placement: outer ") + Text(expected) + '\n';
    const bool placed = PumpUntil(
        [&] {
          process.waitForReadyRead(20);
          err += QString::fromUtf8(process.readAllStandardError());
          seen = x.OuterGeometry(process.processId());
          // The last geometry the window saw is the one a shutdown now would save.
          const qsizetype last = err.lastIndexOf(QStringLiteral("placement: outer "));
          return seen == expected && last >= 0 && err.mid(last).startsWith(traced);
        },
        kWaitMs);
    EXPECT_TRUE(placed) << "expected outer " << Text(expected).toStdString() << ", X shows "
                        << (seen ? Text(*seen).toStdString() : std::string("no window")) << "\n"
                        << err.toStdString();
    if (placed && while_placed) {
      while_placed(process.processId());
    }

    ASSERT_TRUE(test::SignalChild(process, SIGTERM));
    ASSERT_TRUE(process.waitForFinished(kWaitMs));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    err += QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(process.exitCode() == 0 ||
                (process.exitCode() == kLeakExitCode && !LeakReportNamesTheProgram(err)))
        << "exit code " << process.exitCode() << "\n"
        << err.toStdString();
  }

  // A display the machine failed to bring up is not the program's fault: a fresh server, up to
  // three times.
  static std::unique_ptr<TXServer> StartServer(bool with_window_manager) {
    std::unique_ptr<TXServer> server;
    QString failed;
    for (int attempt = 0; attempt < 3 && (!server || !failed.isEmpty()); ++attempt) {
      server = std::make_unique<TXServer>();
      failed = server->Start(with_window_manager);
    }
    EXPECT_TRUE(failed.isEmpty()) << failed.toStdString();
    return failed.isEmpty() ? std::move(server) : nullptr;
  }

  void WritePlacement(const QRect& outer) const {
    QFile file(SettingsPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[COMMON]\nMainForm=" + Text(outer).toUtf8() + "\n");
  }

  // The placement each test saves before the first start.
  static constexpr QRect kGiven{100, 100, 700, 500};

  QTemporaryDir app_dir_;
  QTemporaryDir runtime_dir_;
  QString exe_;
};

TEST_F(WindowPlacementTest, SavedPlacementComesBackUnchangedWithAndWithoutAWindowManager) {
  for (const bool with_window_manager : {true, false}) {
    SCOPED_TRACE(with_window_manager ? "openbox" : "no window manager");
    const std::unique_ptr<TXServer> server = StartServer(with_window_manager);
    ASSERT_TRUE(server);
    TXServer& x = *server;
    WritePlacement(kGiven);
    RunOnce(x, kGiven);
    const QString first = SavedPlacement();
    EXPECT_TRUE(first.startsWith(Text(kGiven) + ',')) << first.toStdString();

    RunOnce(x, kGiven);
    EXPECT_EQ(SavedPlacement(), first);
  }
}

// A window manager still framing the window may carry out an earlier request of the program's
// after its last one, and leave the window at the size asked for before the frame was known.
// The program puts such an echo right; a size nobody asked for is somebody's choice and stays,
// and is what the next start brings back.
TEST_F(WindowPlacementTest, AnEchoOfAnEarlierRequestIsPutRightAndAChosenSizeStays) {
  const std::unique_ptr<TXServer> server = StartServer(true);
  ASSERT_TRUE(server);
  TXServer& x = *server;
  WritePlacement(kGiven);
  std::optional<QRect> chosen;
  RunOnce(x, kGiven, [&](qint64 pid) {
    const QString id = x.WindowOf(pid);
    ASSERT_FALSE(id.isEmpty());
    // Before the frame was known, the program asked for the outer size as the inner one.
    ASSERT_TRUE(x.Resize(id, kGiven.size()));
    EXPECT_TRUE(PumpUntil([&] { return x.OuterGeometry(pid) == kGiven; }, kWaitMs))
        << "the echo was left standing";

    ASSERT_TRUE(x.Resize(id, QSize(650, 450)));
    chosen = x.OuterGeometry(pid);
    ASSERT_TRUE(chosen);
    // Longer than the program waits for quiet before it puts an echo right.
    PumpUntil([] { return false; }, 1500);
    EXPECT_EQ(x.OuterGeometry(pid), chosen);
  });
  ASSERT_TRUE(chosen);
  EXPECT_TRUE(SavedPlacement().startsWith(Text(*chosen) + ',')) << SavedPlacement().toStdString();
}

// Closed before the echo is put right, the window saves the placement it asked for last, not
// the echo (which the next start would bring back a frame too big).
TEST_F(WindowPlacementTest, AShutdownDuringAnEchoSavesThePlacementAskedFor) {
  const std::unique_ptr<TXServer> server = StartServer(true);
  ASSERT_TRUE(server);
  TXServer& x = *server;
  WritePlacement(kGiven);
  RunOnce(x, kGiven, [&](qint64 pid) {
    const QString id = x.WindowOf(pid);
    ASSERT_FALSE(id.isEmpty());
    ASSERT_TRUE(x.Resize(id, kGiven.size()));  // closed at once, well before the quiet moment
  });
  EXPECT_TRUE(SavedPlacement().startsWith(Text(kGiven) + ',')) << SavedPlacement().toStdString();
}

// The leak reports a sanitized program may end with: only the program's own allocations fail
// a run.
TEST(LeakReportTest, OnlyFramesOfTheProgramMakeALeakItsOwn) {
  const QString qt_thread_data = QStringLiteral(
      "==1==ERROR: LeakSanitizer: detected memory leaks\n\n"
      "Direct leak of 152 byte(s) in 1 object(s) allocated from:\n"
      "    #0 0x7f90a68b94c8 in operator new(unsigned long) "
      "../../../../src/libsanitizer/asan/asan_new_delete.cpp:95\n"
      "    #1 0x7f90a51f3481  (/lib/x86_64-linux-gnu/libQt6Core.so.6+0x1f3481)\n\n"
      "Indirect leak of 100 byte(s) in 2 object(s) allocated from:\n"
      "    #0 0x7f90a68b89cf in __interceptor_malloc "
      "../../../../src/libsanitizer/asan/asan_malloc_linux.cpp:69\n"
      "    #1 0x7f90a51f72b2 in QArrayData::allocate(QArrayData**, long long, long long, long "
      "long, QArrayData::AllocationOption) (/lib/x86_64-linux-gnu/libQt6Core.so.6+0x1f72b2)\n"
      "    #2 0x530fa8ad10e084ff  (<unknown module>)\n");
  const QString ours_with_lines =
      qt_thread_data + QStringLiteral(
                           "\nDirect leak of 16 byte(s) in 1 object(s) allocated from:\n"
                           "    #0 0x7f90a68b94c8 in operator new(unsigned long) "
                           "../../../../src/libsanitizer/asan/asan_new_delete.cpp:95\n"
                           "    #1 0x55d2ff89d9a0 in updater::TMainForm::ShowFrame() "
                           "/check/work/main/src/main/MainFormLog.cpp:40\n");
  const QString ours_without_lines = QStringLiteral(
      "==1==ERROR: LeakSanitizer: detected memory leaks\n"
      "Direct leak of 16 byte(s) in 1 object(s) allocated from:\n"
      "    #0 0x7f90a68b94c8 in operator new(unsigned long) "
      "../../../../src/libsanitizer/asan/asan_new_delete.cpp:95\n"
      "    #1 0x55d2ff89d9a0  (/tmp/qt-abc/veltorium-updater+0x1d49a0)\n");
  // Frames of the program printed before the report (a crash trace, say) are not a leak.
  const QString frame_before_report =
      QStringLiteral("    #1 0x55d2ff89d9a0 in main ../../src/main/main.cpp:32\n") + qt_thread_data;
  EXPECT_FALSE(LeakReportNamesTheProgram(qt_thread_data));
  EXPECT_FALSE(LeakReportNamesTheProgram(frame_before_report));
  EXPECT_FALSE(LeakReportNamesTheProgram(QString()));
  EXPECT_TRUE(LeakReportNamesTheProgram(ours_with_lines));
  EXPECT_TRUE(LeakReportNamesTheProgram(ours_without_lines));
}

}  // namespace
