#include "job_rig.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "EmbeddedImage.h"
#include "FirmwareBlock.h"

namespace flashtest {

namespace {

constexpr int kJobTimeoutMs = 120000;

std::string ExecutableDir() {
  return std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/";
}

// Directories and libraries are process-wide: the libraries read the directories from the
// environment, and a loaded library stays loaded.
struct Libraries {
  std::string zizuz_dir;
  std::string ftdi_dir;
  std::unique_ptr<TFtdiLibrary> ftdi;
  std::unique_ptr<TQlLibrary> ql;
  std::unique_ptr<TDeviceChannel> channel;

  Libraries() {
    char pattern[] = "/tmp/flash-job-XXXXXX";
    const std::string root = mkdtemp(pattern);
    zizuz_dir = root + "/zizuz";
    ftdi_dir = root + "/ftdi";
    std::filesystem::create_directories(zizuz_dir);
    std::filesystem::create_directories(ftdi_dir);
    setenv("ZIZUZ_DEVICE_DIR", zizuz_dir.c_str(), 1);
    setenv("FTD2XX_SIM_DIR", ftdi_dir.c_str(), 1);
    const std::string bin = ExecutableDir();
    ql = LoadQLLibrary(bin);
    ftdi = LoadFtdiLibrary(bin + "d2xx-sim/");
    channel = std::make_unique<TDeviceChannel>(ftdi.get(), ql.get());
  }
};

Libraries& Shared() {
  static Libraries libraries;
  return libraries;
}

}  // namespace

bool RecordingHost::LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& loaded) {
  ++loads;
  FreeBlocks(blocks);
  switch (mode) {
    case LoadMode::Fail:
      return false;
    case LoadMode::Oversize: {
      loaded = version;
      const std::vector<uint8_t> huge(kMaxFirmwareBlockSize + 1, 0x5A);
      blocks.push_back(std::make_unique<TFirmwareBlock>(
          huge.data(), static_cast<int32_t>(huge.size()), int32_t{-1}));
      return true;
    }
    case LoadMode::Embedded: {
      std::optional<std::vector<uint8_t>> image = ReadEmbeddedImage();
      if (!image) {
        return false;
      }
      return ParseFirmwareImage(image->data(), image->size(), loaded, blocks,
                                [this](int kind, int32_t serial, const std::string& text) {
                                  LogDevLine(kind, serial, text);
                                });
    }
    case LoadMode::Image:
      break;
  }
  loaded = version;
  blocks.push_back(std::make_unique<TFirmwareBlock>(payload.data(),
                                                    static_cast<int32_t>(payload.size()), address));
  return true;
}

void RecordingHost::LogDevLine(int kind, int32_t serial, const std::string& text) {
  lines.push_back({kind, serial, text});
  if (on_line) {
    on_line(lines.back());
  }
}

void RecordingHost::ShowProgress(TDevEntry&, int percent) {
  progress.push_back(percent);
  ++progress_steps_;
}

std::vector<std::string> RecordingHost::Texts() const {
  static const std::regex prefix(R"(^\([ \-0-9]{6,}\))");
  std::vector<std::string> texts;
  for (const LoggedLine& line : lines) {
    texts.push_back(
        std::regex_replace(line.text, prefix, "(T)", std::regex_constants::format_first_only));
  }
  return texts;
}

bool RecordingHost::Has(int kind, const std::string& text) const {
  const std::vector<std::string> texts = Texts();
  for (size_t i = 0; i < texts.size(); ++i) {
    if (texts[i] == text && lines[i].kind == kind) {
      return true;
    }
  }
  return false;
}

TrackerRig::TrackerRig() {
  Libraries& libraries = Shared();
  EXPECT_NE(libraries.ql, nullptr) << "libZIZUZ.so did not load";
  EXPECT_NE(libraries.ftdi, nullptr) << "the stand-in libftd2xx.so did not load";
  sim::HostOptions options;
  options.dirs = {libraries.zizuz_dir, libraries.ftdi_dir};
  host_ = std::make_unique<sim::TrackerHost>(options);
  host_->Start();
}

TrackerRig::~TrackerRig() {
  host_->Stop();
}

bool TrackerRig::Add(const sim::TrackerConfig& config) {
  std::string error;
  const bool added = host_->Add(config, &error);
  EXPECT_TRUE(added) << error;
  return added && host_->WaitPlugged(config.serial, config.mode);
}

const TDeviceChannel& TrackerRig::Channel() const {
  return *Shared().channel;
}

std::unique_ptr<TDevEntry> TrackerRig::Device(const sim::TrackerConfig& config) const {
  const bool ftdi = config.driver == sim::DriverKind::Ftdi;
  auto device = std::make_unique<TDevEntry>(config.serial, ftdi ? 0xFFFF : 0, ftdi ? 0 : 1);
  device->BootMode = true;
  device->ProcessorId = config.processorId;
  EXPECT_TRUE(device->FirmwareVersion.Parse(config.firmwareVersion));
  EXPECT_TRUE(device->BootVersion.Parse(config.bootVersion));
  return device;
}

std::unique_ptr<TWriteThread> MakeJob(TDispatcher& dispatcher, TWriteHost& host,
                                      const TDeviceChannel& channel, TDevEntry& device,
                                      JobOutcome& outcome) {
  auto job = std::make_unique<TWriteThread>(dispatcher, host, channel, device);
  job->OnTerminate = [&outcome](TWorkerThread* worker) {
    const auto& done = static_cast<const TWriteThread&>(*worker);
    outcome.ended = true;
    outcome.result = done.ResultCode;
    outcome.last_reply = done.LastReply;
    outcome.first_sector = done.FirstSector;
    outcome.last_sector = done.LastSector;
    outcome.total_parts = done.TotalParts;
    outcome.parts_done = done.PartsDone;
    outcome.serial = done.Device.Serial;
  };
  return job;
}

JobOutcome RunJob(TDispatcher& dispatcher, TWriteHost& host, const TDeviceChannel& channel,
                  TDevEntry& device, const std::function<void(TWriteThread&)>& before_start) {
  JobOutcome outcome;
  const std::unique_ptr<TWriteThread> job = MakeJob(dispatcher, host, channel, device, outcome);
  if (before_start) {
    before_start(*job);
  }
  job->Start();
  EXPECT_TRUE(dispatcher.PumpUntil([&] { return outcome.ended; }, kJobTimeoutMs))
      << "the job did not end";
  return outcome;
}

TFirmwareVersion Version(const std::string& family, uint16_t number, const std::string& suffix) {
  TFirmwareVersion version;
  version.Family = family;
  version.Number = number;
  version.Suffix = suffix;
  return version;
}

std::string Summary(const std::vector<sim::RequestRecord>& requests) {
  std::string out;
  std::string previous;
  int repeat = 0;
  auto flush = [&] {
    if (previous.empty()) {
      return;
    }
    if (!out.empty()) {
      out += ' ';
    }
    out += previous;
    if (repeat > 1) {
      out += 'x' + std::to_string(repeat);
    }
  };
  for (const sim::RequestRecord& r : requests) {
    std::string item;
    switch (r.code) {
      case 1:
      case 6:
        item = "e" + std::to_string(r.sector);
        break;
      case 2:
      case 7:
        item = "w" + std::to_string(r.sector);
        break;
      case 11:
        item = "F";
        break;
      case 12:
        item = "f";
        break;
      default:
        item = "?" + std::to_string(r.code);
    }
    if (item == previous) {
      ++repeat;
      continue;
    }
    flush();
    previous = item;
    repeat = 1;
  }
  flush();
  return out;
}

}  // namespace flashtest
