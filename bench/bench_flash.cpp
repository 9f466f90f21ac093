// Flashes the embedded image into 1, 2, 4 and 8 virtual trackers at once through the real
// program path: the main window (offscreen) finds them, automatic flashing starts one job per
// tracker, every log line and progress step goes through the main thread. For each count it
// prints the wall time from the first job's start to the last job's end, the floor the
// protocol itself sets for the same requests, their ratio, and the ratio to one tracker.
//
// The floor, per request a job sent (counted from the trackers' own request logs): 1 ms
// between the 64-byte parts of the request, and on the FTDI path 1 ms of settling before its
// reply is read. Trackers answer at once; jobs of different trackers overlap, so the floor of
// a run is that of its longest job.
//
// Usage: bench_flash [maker|ftdi ...]   (both kinds by default; QT_QPA_PLATFORM defaults to
// offscreen). Targets: within 1.15 of the floor for one tracker; 8 trackers within 1.2 of one.

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <chrono>
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
  double wall_ms = 0;
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

TRun Flash(int trackers, sim::DriverKind kind, const std::string& root) {
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
  host.Start();
  for (const std::string& serial : serials) {
    host.WaitPlugged(serial, sim::TrackerMode::BootLoader);
  }

  TSilentDialogs dialogs;
  auto form = std::make_unique<TMainForm>(std::vector<std::string>{});
  form->SetDialogs(dialogs);
  const std::string bin = BinDir();
  form->Session().SetLibraryLoaders(
      {[bin](const std::string&) { return LoadFtdiLibrary(bin + "d2xx-sim/"); },
       [bin](const std::string&) { return LoadQLLibrary(bin); }});
  form->show();
  FormUi(*form).cbAutoWrite->setChecked(true);
  FormUi(*form).cbWritelogToFile->setChecked(false);

  // The program's own event loop; a precise 1 ms timer notes the first job's start and ends
  // the loop when every job has ended.
  TRun run;
  Clock::time_point started{};
  bool any_started = false;
  QEventLoop loop;
  QTimer watch;
  watch.setTimerType(Qt::PreciseTimer);
  watch.setInterval(1);
  const auto deadline = Clock::now() + std::chrono::minutes(5);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    const auto now = Clock::now();
    const bool running = form->Session().RunningJobs() != 0;
    if (running && !any_started) {
      any_started = true;
      started = now;
    }
    const bool all_listed = form->Session().DeviceCount() == static_cast<size_t>(trackers);
    if ((any_started && !running && all_listed) || now > deadline) {
      run.wall_ms = std::chrono::duration<double, std::milli>(now - started).count();
      loop.quit();
    }
  });
  watch.start();
  loop.exec();

  run.ok = any_started;
  for (const uint64_t id : form->Session().DeviceIds()) {
    const TFWLoaderDevGroup* panel = form->Panel(id);
    run.ok =
        run.ok && panel != nullptr &&
        panel->lblMessage->text() == QString::fromUtf8("Обновление прошивки завершено успешно");
  }
  for (const std::string& serial : serials) {
    int count = 0;
    const double floor = JobFloorMs(host.Requests(serial), kind == sim::DriverKind::Ftdi, count);
    if (floor > run.floor_ms) {
      run.floor_ms = floor;
      run.requests = count;
    }
    run.ok = run.ok && host.Status(serial).finish == sim::FinishState::Succeeded;
  }
  // The settings go beside this binary, where the tests' windows read them too.
  FormUi(*form).cbAutoWrite->setChecked(false);
  form.reset();
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  std::vector<sim::DriverKind> kinds;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "maker" || arg == "ftdi") {
      kinds.push_back(arg == "ftdi" ? sim::DriverKind::Ftdi : sim::DriverKind::Maker);
    } else {
      std::fprintf(stderr, "usage: bench_flash [maker|ftdi ...]\n");
      return 2;
    }
  }
  if (kinds.empty()) {
    kinds = {sim::DriverKind::Maker, sim::DriverKind::Ftdi};
  }

  char pattern[] = "/tmp/bench-flash-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string root = pattern;

  bool all_ok = true;
  for (sim::DriverKind kind : kinds) {
    const char* name = kind == sim::DriverKind::Ftdi ? "ftdi" : "maker";
    std::printf("%-6s %8s %10s %10s %9s %9s %9s\n", "path", "trackers", "wall ms", "floor ms",
                "requests", "/floor", "/one");
    double one = 0;
    for (int trackers : {1, 2, 4, 8}) {
      const TRun run = Flash(trackers, kind, root + "/" + name + std::to_string(trackers));
      if (trackers == 1) {
        one = run.wall_ms;
      }
      std::printf("%-6s %8d %10.1f %10.1f %9d %9.3f %9.3f%s\n", name, trackers, run.wall_ms,
                  run.floor_ms, run.requests, run.wall_ms / run.floor_ms, run.wall_ms / one,
                  run.ok ? "" : "  (a job failed)");
      std::fflush(stdout);
      all_ok = all_ok && run.ok;
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return all_ok ? 0 : 1;
}
