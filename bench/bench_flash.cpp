// Flashes the embedded image into 1, 2, 4 and 8 virtual trackers at once through the real
// program path: the updater session finds them and automatic flashing starts one job per
// tracker; it is driven directly (as a headless program does) and through the main window
// (offscreen), whose log view and panels then show every line and step. For each count it
// prints the wall time from the first job's start to the last job's end, the floor the
// protocol itself sets for the same requests, and the longest job's own duration (measured on
// its thread, from its start to its end) with its ratio to the floor and to one tracker.
// With --busy N, N processes spin on the processors meanwhile.
//
// The floor, per request a job sent (counted from the trackers' own request logs): 1 ms
// between the 64-byte parts of the request, and on the FTDI path one 1 ms look for the reply's
// first byte. A whole reply already queued at the first look needs neither that pause nor the
// settle, so an FTDI job can come in a little under this floor. Trackers answer at once; jobs
// of different trackers overlap, so the floor of a run is that of its longest job.
//
// Usage: bench_flash [maker|ftdi ...] [session|window ...] [--trackers N ...] [--busy N]
//   (both kinds, both fronts, 1, 2, 4 and 8 trackers by default; QT_QPA_PLATFORM defaults to
//   offscreen)
// Targets: the maker's library within 1.05 of the floor for one tracker, the FTDI kind within
// 1.10; 8 trackers within 1.10 of one; with the machine busy, every job still succeeds.

#include <sys/wait.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DevPanelGroup.h"
#include "Dialogs.h"
#include "MainForm.h"
#include "TrackerHost.h"
#include "UpdaterSession.h"
#include "busy_processes.h"
#include "form_controls.h"

namespace {

using namespace updater;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kPartSize = 64;
// Boot-loader queries of the scan's identification; everything else a tracker receives here
// comes from its job.
constexpr uint16_t kQueryCodes[] = {4, 5, 10};

class TSilentDialogs : public TDialogs {
 public:
  void Error(const QString&) override {}
  QString OpenFileName(QWidget*, const QString&, const QString&) override { return {}; }
};

std::string BinDir() {
  return std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/";
}

struct TRun {
  double wall_ms = 0;  // first job's start to last job's end, seen from the event loop (+10 ms)
  double job_ms = 0;   // the longest job's own duration, measured on its thread
  double floor_ms = 0;
  int requests = 0;  // of the longest job
  bool ok = false;
};

// The floor of one tracker's job, from what the tracker received.
double JobFloorMs(const std::vector<sim::RequestRecord>& requests, bool ftdi, int& count) {
  double floor = 0;
  count = 0;
  for (const sim::RequestRecord& r : requests) {
    if (r.frameNumber == 0 || std::find(std::begin(kQueryCodes), std::end(kQueryCodes), r.code) !=
                                  std::end(kQueryCodes)) {
      continue;
    }
    const auto parts = static_cast<double>((r.raw.size() + kPartSize - 1) / kPartSize);
    floor += parts - 1 + (ftdi ? 1 : 0);
    ++count;
  }
  return floor;
}

TRun Flash(int trackers, sim::DriverKind kind, bool window, const std::string& root) {
  const std::string zizuz_dir = root + "/by-id";
  const std::string ftdi_dir = root + "/ftdi";
  setenv("ZIZUZ_DEVICE_DIR", zizuz_dir.c_str(), 1);
  setenv("FTD2XX_SIM_DIR", ftdi_dir.c_str(), 1);
  sim::HostOptions options;
  options.dirs = {zizuz_dir, ftdi_dir};
  sim::TrackerHost host(options);
  std::vector<std::string> serials;
  for (int i = 0; i < trackers; ++i) {
    sim::TrackerConfig config;
    config.serial = std::to_string(8100 + i);
    config.driver = kind;
    config.mode = sim::TrackerMode::BootLoader;
    serials.push_back(config.serial);
    host.Add(config);
  }

  TSilentDialogs dialogs;
  std::unique_ptr<TMainForm> form;
  std::unique_ptr<TUpdaterSession> own_session;
  const std::string bin = BinDir();
  TLibraryLoaders loaders{[bin](const std::string&) { return LoadFtdiLibrary(bin + "d2xx-sim/"); },
                          [bin](const std::string&) { return LoadQLLibrary(bin); }};
  TUpdaterSession* session = nullptr;
  if (window) {
    form = std::make_unique<TMainForm>(std::vector<std::string>{});
    form->SetDialogs(dialogs);
    form->Session().SetLibraryLoaders(loaders);
    form->show();
    FormUi(*form).cbAutoWrite->setChecked(true);
    FormUi(*form).cbWritelogToFile->setChecked(false);
    session = &form->Session();
  } else {
    own_session = std::make_unique<TUpdaterSession>();
    session = own_session.get();
    session->SetLibraryLoaders(loaders);
    session->SetAutoWrite(true);
    session->LoadDriverLibraries();
  }
  // The trackers are plugged into a program that is up and, through the window, shown and
  // painted, as a technician plugs them: the jobs do not share the processors with the
  // window's first show.
  QEventLoop settle;
  QTimer::singleShot(500, &settle, &QEventLoop::quit);
  settle.exec();
  host.Start();
  for (const std::string& serial : serials) {
    host.WaitPlugged(serial, sim::TrackerMode::BootLoader);
  }
  TRun run;
  int failed_jobs = 0;
  QObject::connect(session, &TUpdaterSession::JobDone,
                   [&failed_jobs, &run](uint64_t, const TJobOutcome& outcome) {
                     failed_jobs += outcome.ResultCode == kWriteSucceeded ? 0 : 1;
                     run.job_ms = std::max(run.job_ms, static_cast<double>(outcome.Elapsed));
                   });
  // A failed run says why: the log's error lines, printed as they come.
  QObject::connect(&session->Log(), &TEventLog::Line, [](int line_kind, const std::string& line) {
    if (line_kind == kLogError) {
      std::fprintf(stderr, "  %s\n", line.c_str());
    }
  });

  // The program's own event loop; a precise 1 ms timer notes the first job's start, then a
  // 10 ms one ends the loop when every job has ended: a 1 ms timer all along would be the
  // bench's own load on the main thread, which the jobs share the processors with.
  Clock::time_point started{};
  bool any_started = false;
  QEventLoop loop;
  QTimer watch;
  watch.setTimerType(Qt::PreciseTimer);
  watch.setInterval(1);
  const auto deadline = Clock::now() + std::chrono::minutes(5);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    const auto now = Clock::now();
    const bool running = session->RunningJobs() != 0;
    if (running && !any_started) {
      any_started = true;
      started = now;
      watch.setInterval(10);
    }
    const bool all_listed = session->DeviceCount() == static_cast<size_t>(trackers);
    if ((any_started && !running && all_listed) || now > deadline) {
      run.wall_ms = std::chrono::duration<double, std::milli>(now - started).count();
      loop.quit();
    }
  });
  watch.start();
  loop.exec();

  run.ok = any_started && failed_jobs == 0;
  for (const uint64_t id : session->DeviceIds()) {
    const TFWLoaderDevGroup* panel = form ? form->Panel(id) : nullptr;
    run.ok = run.ok &&
             (!form || (panel != nullptr && panel->lblMessage->text() ==
                                                QString::fromUtf8("Обновление прошивки завершено "
                                                                  "успешно")));
  }
  for (const std::string& serial : serials) {
    int count = 0;
    const double floor = JobFloorMs(host.Requests(serial), kind == sim::DriverKind::Ftdi, count);
    if (floor > run.floor_ms) {
      run.floor_ms = floor;
      run.requests = count;
    }
    const bool succeeded = host.Status(serial).finish == sim::FinishState::Succeeded;
    run.ok = run.ok && succeeded;
    if (!succeeded) {
      // What the tracker itself received last: whether the requests reached it and were
      // answered.
      const std::vector<sim::RequestRecord> requests = host.Requests(serial);
      const size_t from = requests.size() > 6 ? requests.size() - 6 : 0;
      for (size_t i = from; i < requests.size(); ++i) {
        const sim::RequestRecord& r = requests[i];
        std::fprintf(stderr, "  tracker %s request %zu: code %u sector %u address %u%s %s\n",
                     serial.c_str(), i, r.code, r.sector, r.address,
                     r.answered ? " answered" : " not answered", r.note.c_str());
      }
    }
  }
  if (form) {
    // The settings go beside this binary, where the tests' windows read them too.
    FormUi(*form).cbAutoWrite->setChecked(false);
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  std::vector<sim::DriverKind> kinds;
  std::vector<bool> fronts;  // true: through the window
  std::vector<int> counts;
  int busy = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "maker" || arg == "ftdi") {
      kinds.push_back(arg == "ftdi" ? sim::DriverKind::Ftdi : sim::DriverKind::Maker);
    } else if (arg == "session" || arg == "window") {
      fronts.push_back(arg == "window");
    } else if (arg == "--busy" && i + 1 < argc) {
      busy = std::atoi(argv[++i]);
    } else if (arg == "--trackers" && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
      counts.push_back(std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr,
                   "usage: bench_flash [maker|ftdi ...] [session|window ...] [--trackers N ...] "
                   "[--busy N]\n");
      return 2;
    }
  }
  if (kinds.empty()) {
    kinds = {sim::DriverKind::Maker, sim::DriverKind::Ftdi};
  }
  if (fronts.empty()) {
    fronts = {false, true};
  }
  if (counts.empty()) {
    counts = {1, 2, 4, 8};
  }
  TBusyProcesses spinning(busy);

  char pattern[] = "/tmp/bench-flash-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string root = pattern;

  bool all_ok = true;
  std::printf("busy processes: %d\n", busy);
  for (const bool window : fronts) {
    const char* front = window ? "window" : "session";
    for (sim::DriverKind kind : kinds) {
      const char* name = kind == sim::DriverKind::Ftdi ? "ftdi" : "maker";
      std::printf("%-8s %-6s %8s %10s %10s %10s %9s %9s %9s\n", "front", "path", "trackers",
                  "job ms", "wall ms", "floor ms", "requests", "/floor", "/one");
      double one = 0;  // one tracker's job, once run
      for (int trackers : counts) {
        const TRun run =
            Flash(trackers, kind, window, root + "/" + front + name + std::to_string(trackers));
        if (trackers == 1) {
          one = run.job_ms;
        }
        char to_one[16] = "-";
        if (one > 0) {
          std::snprintf(to_one, sizeof to_one, "%.3f", run.job_ms / one);
        }
        std::printf("%-8s %-6s %8d %10.1f %10.1f %10.1f %9d %9.3f %9s%s\n", front, name, trackers,
                    run.job_ms, run.wall_ms, run.floor_ms, run.requests, run.job_ms / run.floor_ms,
                    to_one, run.ok ? "" : "  (a job failed)");
        std::fflush(stdout);
        all_ok = all_ok && run.ok;
      }
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return all_ok ? 0 : 1;
}
