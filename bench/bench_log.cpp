// Adds coloured lines (200,000 unless told) to the updater session's event log under a shown
// (offscreen) main window, whose view appends each one in a frame of its own, and prints the time
// per line for the first 10,000, for the 10,000 before each tenth of the run, and for the last
// 10,000. Once the view is full it drops a line from its top for each line added, and the last
// lines must cost about what the first did.
//
// Usage: bench_log [lines]   (QT_QPA_PLATFORM defaults to offscreen)

#include <time.h>

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Dialogs.h"
#include "MainForm.h"
#include "UpdaterApplication.h"

namespace {

// The start-up box about the FTDI library that is never present here.
class TSilentDialogs : public updater::TDialogs {
 public:
  void Error(const QString&) override {}
  QString OpenFileName(QWidget*, const QString&, const QString&) override { return {}; }
};

constexpr int kWindow = 10000;
constexpr int kEventsEvery = 100;  // the program's event loop runs between lines

// The main thread's own processor time: on a shared machine the wall clock also counts the
// time other processes ran.
double ThreadCpuUs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

struct TSpan {
  std::chrono::steady_clock::time_point wall;
  double cpu_us;

  static TSpan Now() { return {std::chrono::steady_clock::now(), ThreadCpuUs()}; }
  // Microseconds per line since start: wall clock and processor time.
  std::pair<double, double> PerLine(const TSpan& start, int lines) const {
    return {std::chrono::duration<double, std::micro>(wall - start.wall).count() / lines,
            (cpu_us - start.cpu_us) / lines};
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  const int lines = argc > 1 ? std::max(2 * kWindow, std::atoi(argv[1])) : 200000;
  updater::TUpdaterApplication app(argc, argv);
  updater::TMainForm form({});
  TSilentDialogs dialogs;
  form.SetDialogs(dialogs);
  // The maker's library beside the program keeps the window open; no scan runs meanwhile.
  form.Session().DeviceTimer().stop();
  form.show();
  form.Session().DeviceTimer().stop();
  QCoreApplication::processEvents();

  QPlainTextEdit* view = form.findChild<QPlainTextEdit*>(QStringLiteral("reLog"));
  if (view == nullptr) {
    std::fprintf(stderr, "the window has no event log view reLog\n");
    return 1;
  }

  // Windows of kWindow lines ending at the first kWindow lines and at every tenth of the run.
  std::vector<int> ends = {kWindow};
  for (int tenth = 1; tenth <= 10; ++tenth) {
    ends.push_back(static_cast<int>(static_cast<long long>(lines) * tenth / 10));
  }
  std::vector<std::pair<double, double>> per_line(ends.size());
  std::vector<TSpan> starts(ends.size());

  for (int i = 0; i < lines; ++i) {
    for (size_t w = 0; w < ends.size(); ++w) {
      if (i == ends[w] - kWindow) {
        starts[w] = TSpan::Now();
      }
    }
    // The whole road of a line: the session's log, its signal, the window's view, each line in
    // a frame of its own (the view's dearest case; the window gathers a burst into one frame).
    form.Session().Log().AddFormatted(i % 3, 1000 + i % 50,
                                      "(% 6d) Запись сектора %d: %08X, %d байт", i, i % 64,
                                      static_cast<unsigned>(i) * 512u, 512);
    form.ShowFrameNow();
    if (i % kEventsEvery == 0) {
      QCoreApplication::processEvents();
    }
    for (size_t w = 0; w < ends.size(); ++w) {
      if (i == ends[w] - 1) {
        per_line[w] = TSpan::Now().PerLine(starts[w], kWindow);
      }
    }
  }
  const std::pair<double, double> first = per_line.front();
  const std::pair<double, double> last = per_line.back();

  std::printf("lines appended: %d (in the view: %d)\n", lines, view->blockCount());
  std::printf("                     wall us/line   cpu us/line\n");
  for (size_t w = 1; w + 1 < ends.size(); ++w) {
    std::printf("%d lines before %8d: %7.1f   %11.1f\n", kWindow, ends[w], per_line[w].first,
                per_line[w].second);
  }
  std::printf("first %d lines:  %10.1f   %11.1f\n", kWindow, first.first, first.second);
  std::printf("last %d lines:   %10.1f   %11.1f\n", kWindow, last.first, last.second);
  std::printf("last / first:        %10.2f   %11.2f\n", last.first / first.first,
              last.second / first.second);
  return 0;
}
