#include "scan_rig.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <ostream>

namespace discovery_test {

using namespace updater;

std::ostream& operator<<(std::ostream& out, const Line& line) {
  return out << "{" << line.kind << ", " << line.serial << ", \"" << line.text << "\"}";
}

std::string BinDir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/";
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "discovery-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScanRig::ScanRig(const TFtdiLibrary* ftdi, const TQlLibrary* ql, TChannelClock clock)
    : ftdi_(ftdi), ql_(ql), clock_(clock) {}

ScanRig::~ScanRig() {
  Dispatcher.Shutdown();
}

ScanOutcome ScanRig::Run() {
  ScanOutcome outcome;
  TScanContext context;
  context.Ftdi = ftdi_;
  context.Ql = ql_;
  context.DevList = &DevList;
  context.DevListLock = &DevListLock;
  context.Clock = clock_;
  context.Notices = &Notices;
  context.Sink = [&outcome](int kind, int32_t serial, const std::string& text) {
    outcome.Lines.push_back({kind, serial, text});
  };
  auto scan = std::make_unique<TReadVersion>(Dispatcher, std::move(context));
  bool ended = false;
  scan->OnTerminate = [&](TWorkerThread* worker) {
    auto* done = static_cast<TReadVersion*>(worker);
    outcome.ErrorCode = done->ErrorCode;
    outcome.LastReply = done->LastReply;
    outcome.NewDevices = std::move(done->NewDevices);
    for (const TScanNotice& notice : done->Notices) {
      outcome.Notices.push_back({notice.Kind, notice.Serial, notice.Text});
    }
    ended = true;
  };
  scan->Start();
  EXPECT_TRUE(Dispatcher.PumpUntil([&] { return ended; }, 120000)) << "the scan never ended";
  return outcome;
}

TrackerRig::TrackerRig(int replug_ms) {
  const std::string zizuz_dir = Dir.Path() + "/by-id";
  const std::string ftdi_dir = Dir.Path() + "/ftdi";
  setenv("ZIZUZ_DEVICE_DIR", zizuz_dir.c_str(), 1);
  setenv("FTD2XX_SIM_DIR", ftdi_dir.c_str(), 1);
  Ql = LoadQLLibrary(BinDir());
  Ftdi = LoadFtdiLibrary(BinDir() + "d2xx-sim/");
  sim::HostOptions options;
  options.dirs = {zizuz_dir, ftdi_dir};
  options.replugMs = replug_ms;
  Host = std::make_unique<sim::TrackerHost>(options);
  Host->Start();
}

TrackerRig::~TrackerRig() {
  Host.reset();
}

void TrackerRig::Plug(sim::TrackerConfig config) {
  const std::string serial = config.serial;
  const sim::TrackerMode mode = config.mode;
  ASSERT_TRUE(Host->Add(std::move(config)));
  ASSERT_TRUE(Host->WaitPlugged(serial, mode, std::chrono::seconds(10)));
}

sim::TrackerConfig Tracker(const std::string& serial, sim::DriverKind driver,
                           sim::TrackerMode mode) {
  sim::TrackerConfig config;
  config.serial = serial;
  config.driver = driver;
  config.mode = mode;
  return config;
}

std::vector<std::string> Received(const sim::TrackerHost& host, const std::string& serial) {
  std::vector<std::string> seen;
  for (const auto& request : host.Requests(serial)) {
    seen.push_back(request.frameNumber != 0 ? std::string("F").append(std::to_string(request.code))
                                            : request.text);
  }
  return seen;
}

}  // namespace discovery_test
