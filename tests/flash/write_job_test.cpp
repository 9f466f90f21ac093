// Whole write jobs against virtual trackers, through both driver libraries: what reaches the
// tracker's flash, which requests it was sent, and what the job reports.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "EmbeddedImage.h"
#include "FirmwareBlock.h"
#include "job_rig.h"

using namespace flashtest;
namespace sim = updater::sim;

namespace updater::sim {
// Found by argument lookup, so test names say which library a case goes through.
void PrintTo(DriverKind driver, std::ostream* os) {
  *os << (driver == DriverKind::Ftdi ? "ftdi" : "maker");
}
}  // namespace updater::sim

namespace {

// Data with a fully erased 4096-byte stretch at 0x1000 (an empty sector on 4096-byte maps,
// eight on the 512-byte one), ending inside the sector it reaches.
std::vector<uint8_t> Payload(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) {
    data[i] = static_cast<uint8_t>((i * 7 + i / 256) & 0xFF);
    if (data[i] == 0xFF) {
      data[i] = 0x00;
    }
  }
  if (size >= 0x2000) {
    std::fill(data.begin() + 0x1000, data.begin() + 0x2000, uint8_t{0xFF});
  }
  return data;
}

sim::TrackerConfig Tracker(const std::string& serial, sim::DriverKind driver, uint32_t processor_id,
                           const std::string& boot = "BOOT-1.05",
                           const std::string& firmware = "ROZI-1.15") {
  sim::TrackerConfig config;
  config.serial = serial;
  config.driver = driver;
  config.mode = sim::TrackerMode::BootLoader;
  config.processorId = processor_id;
  config.bootVersion = boot;
  config.firmwareVersion = firmware;
  return config;
}

const char* DriverName(sim::DriverKind driver) {
  return driver == sim::DriverKind::Ftdi ? "ftdi" : "maker";
}

// ---------------------------------------------------------------------------------------------
// A successful job on every sector map, over both libraries.

struct MapCase {
  const char* name;
  int serial;
  uint32_t processor_id;
  const char* boot;
  const char* firmware;
  const char* image_family;
  uint16_t image_number;
  uint32_t first_address;  // where the image lands: the first writable sector
  int32_t first_sector;
  int32_t last_sector;  // the sector the image's data ends in
  int32_t total_parts;
  std::set<int> empty_sectors;  // skipped: neither erased nor written
  bool newer_commands;
  bool known_processor;
};

// Test names carry the case's name; the default printer would dump the bytes.
void PrintTo(const MapCase& c, std::ostream* os) {
  *os << c.name;
}

class WriteJobOnEveryMap : public ::testing::TestWithParam<std::tuple<MapCase, sim::DriverKind>> {};

TEST_P(WriteJobOnEveryMap, FlashEqualsTheImageAndNothingPastItIsTouched) {
  const auto& [c, driver] = GetParam();
  const size_t image_size = 0x6800;
  TrackerRig rig;
  const std::string serial = std::to_string(c.serial + (driver == sim::DriverKind::Ftdi ? 1 : 2));
  const sim::TrackerConfig config = Tracker(serial, driver, c.processor_id, c.boot, c.firmware);
  ASSERT_TRUE(rig.Add(config));
  auto device = rig.Device(config);

  TDispatcher dispatcher;
  RecordingHost host;
  host.payload = Payload(image_size);
  host.version = Version(c.image_family, c.image_number);
  const JobOutcome outcome = RunJob(dispatcher, host, rig.Channel(), *device);

  EXPECT_EQ(outcome.result, kWriteSucceeded);
  EXPECT_EQ(outcome.last_reply, 128);
  EXPECT_EQ(outcome.first_sector, c.first_sector);
  EXPECT_EQ(outcome.last_sector, c.last_sector);
  EXPECT_EQ(outcome.total_parts, c.total_parts);
  EXPECT_EQ(outcome.parts_done, c.total_parts);
  EXPECT_EQ(host.loads, 1);

  // The device's flash is the image at the first writable sector, erased everywhere else.
  std::vector<uint8_t> expected(rig.Host().Flash(serial).size(), 0xFF);
  std::copy(host.payload.begin(), host.payload.end(), expected.begin() + c.first_address);
  EXPECT_TRUE(rig.Host().Flash(serial) == expected) << "flash differs from the laid-out image";

  // Only the non-empty sectors were erased and written, each once, in order, with the command
  // set of the device, and the job finished with success.
  const auto requests = rig.Host().Requests(serial);
  std::string expected_summary;
  for (int s = c.first_sector; s <= c.last_sector; ++s) {
    if (c.empty_sectors.count(s) != 0) {
      continue;
    }
    const sim::SimSectorMap map = rig.Host().SectorMap(serial);
    expected_summary += "e" + std::to_string(s) + " w" + std::to_string(s);
    const uint32_t parts = map.sectors[static_cast<size_t>(s)].size / 512;
    if (parts > 1) {
      expected_summary += "x" + std::to_string(parts);
    }
    expected_summary += " ";
  }
  expected_summary += "F";
  EXPECT_EQ(Summary(requests), expected_summary);
  for (const sim::RequestRecord& r : requests) {
    if (r.code == 11) {
      continue;
    }
    const std::set<int> codes = c.newer_commands ? std::set<int>{6, 7} : std::set<int>{1, 2};
    EXPECT_EQ(codes.count(r.code), 1u) << "request code " << r.code;
    EXPECT_EQ(r.result, 128) << r.note;
  }
  EXPECT_EQ(rig.Host().Status(serial).finish, sim::FinishState::Succeeded);

  // The bar only moves forward and ends at 100.
  ASSERT_FALSE(host.progress.empty());
  EXPECT_TRUE(std::is_sorted(host.progress.begin(), host.progress.end()));
  EXPECT_EQ(host.progress.back(), 100);
  EXPECT_EQ(std::count(host.progress.begin(), host.progress.end(), 100), 1);

  const std::vector<std::string> texts = host.Texts();
  size_t first = 0;
  if (!c.known_processor) {
    ASSERT_FALSE(texts.empty());
    char line[64];
    std::snprintf(line, sizeof line, "Неизвестный идентификатор %08X", c.processor_id);
    EXPECT_EQ(texts[0], line);
    first = 1;
  }
  ASSERT_GT(texts.size(), first);
  EXPECT_EQ(texts[first], "Прошивается сектора с " + std::to_string(c.first_sector) + " по " +
                              std::to_string(c.last_sector));
  for (int s : c.empty_sectors) {
    EXPECT_TRUE(host.Has(0, "(T) Сектор " + std::to_string(s) + " пустой. Пропускаем."));
  }
  for (const LoggedLine& line : host.lines) {
    EXPECT_EQ(line.serial, device->Serial);
    EXPECT_EQ(line.kind, 0) << line.text;
  }
}

// 0x6800 bytes from the first writable sector; the erased stretch at 0x1000 empties one
// 4096-byte sector (eight 512-byte ones).
const MapCase kMapCases[] = {
    {"map64",
     61000,
     0x10040204,
     "BOOT-1.05",
     "ROZI-1.15",
     "ROZI",
     116,
     0x4000,
     4,
     10,
     56,
     {5},
     true,
     true},
    {"map22",
     62000,
     0x25011723,
     "BOOT-1.05",
     "ROZI-1.15",
     "ROZI",
     116,
     0xA000,
     10,
     16,
     112,
     {11},
     true,
     true},
    {"map30",
     63000,
     0x26013F37,
     "BOOT-1.05",
     "ROZI-1.15",
     "ROZI",
     116,
     0xA000,
     10,
     16,
     112,
     {11},
     true,
     true},
    {"map256",
     64000,
     0x400FE000,
     "BOOT-1.05",
     "ROZI-1.15",
     "ROZI",
     116,
     0x4400,
     0,
     51,
     52,
     {8, 9, 10, 11, 12, 13, 14, 15},
     true,
     true},
    // Unlisted processors: the boot loader's suffix picks the map, the line names the
    // identifier; the older commands unless a VTQL image meets a boot loader of 1.04 or later.
    {"map27",
     65000,
     0x00000000,
     "BOOT-1.05PP",
     "ROZI-1.15",
     "ROZI",
     116,
     0x4000,
     4,
     8,
     96,
     {5},
     false,
     false},
    {"map28",
     66000,
     0x12345678,
     "BOOT-1.05",
     "VTQL-9.10",
     "VTQL",
     900,
     0x4000,
     4,
     8,
     96,
     {5},
     true,
     false},
};

INSTANTIATE_TEST_SUITE_P(Maps, WriteJobOnEveryMap,
                         ::testing::Combine(::testing::ValuesIn(kMapCases),
                                            ::testing::Values(sim::DriverKind::Maker,
                                                              sim::DriverKind::Ftdi)),
                         [](const auto& tc) {
                           return std::string(std::get<0>(tc.param).name) + "_" +
                                  DriverName(std::get<1>(tc.param));
                         });

// The program's own image, loaded through the image check: every sector that holds data is
// erased and written once, the erased ones are skipped, the rest of the flash stays erased.

struct EmbeddedCase {
  const char* name;
  const char* serial;
  sim::DriverKind driver;
  uint32_t processor_id;
  uint32_t first_address;
};

void PrintTo(const EmbeddedCase& c, std::ostream* os) {
  *os << c.name;
}

class WriteJobEmbeddedImage : public ::testing::TestWithParam<EmbeddedCase> {};

TEST_P(WriteJobEmbeddedImage, LandsAtTheFirstWritableSector) {
  const EmbeddedCase& c = GetParam();
  TrackerRig rig;
  const sim::TrackerConfig config = Tracker(c.serial, c.driver, c.processor_id);
  ASSERT_TRUE(rig.Add(config));
  auto device = rig.Device(config);
  TDispatcher dispatcher;
  RecordingHost host;
  host.mode = RecordingHost::LoadMode::Embedded;
  const JobOutcome outcome = RunJob(dispatcher, host, rig.Channel(), *device);
  ASSERT_EQ(outcome.result, kWriteSucceeded);

  std::optional<std::vector<uint8_t>> image = ReadEmbeddedImage();
  ASSERT_TRUE(image.has_value());
  TFirmwareVersion version;
  TFirmwareBlockList blocks;
  ASSERT_TRUE(ParseFirmwareImage(image->data(), image->size(), version, blocks, {}));
  ASSERT_EQ(blocks.size(), 1u);
  const std::vector<uint8_t>& payload = blocks[0]->Data;

  std::vector<uint8_t> expected(rig.Host().Flash(c.serial).size(), 0xFF);
  ASSERT_LE(c.first_address + payload.size(), expected.size());
  std::copy(payload.begin(), payload.end(), expected.begin() + c.first_address);
  EXPECT_TRUE(rig.Host().Flash(c.serial) == expected) << "flash differs from the laid-out image";

  const sim::SimSectorMap map = rig.Host().SectorMap(c.serial);
  std::string summary;
  int skipped = 0;
  for (int s = map.firstWritable; s <= map.lastWritable; ++s) {
    const sim::SimSector& sector = map.sectors[static_cast<size_t>(s)];
    const auto begin = expected.begin() + sector.address;
    if (std::all_of(begin, begin + sector.size, [](uint8_t b) { return b == 0xFF; })) {
      ++skipped;
      continue;
    }
    summary += "e" + std::to_string(s) + " w" + std::to_string(s);
    if (sector.size > 512) {
      summary += "x" + std::to_string(sector.size / 512);
    }
    summary += " ";
  }
  EXPECT_GT(skipped, 0);
  EXPECT_EQ(Summary(rig.Host().Requests(c.serial)), summary + "F");
  EXPECT_EQ(host.progress.back(), 100);
}

INSTANTIATE_TEST_SUITE_P(Embedded, WriteJobEmbeddedImage,
                         ::testing::Values(EmbeddedCase{"map30_maker", "67001",
                                                        sim::DriverKind::Maker, 0x26013F37, 0xA000},
                                           EmbeddedCase{"map256_ftdi", "67002",
                                                        sim::DriverKind::Ftdi, 0x400FE000, 0x4400}),
                         [](const auto& tc) { return std::string(tc.param.name); });

// ---------------------------------------------------------------------------------------------
// The log of a job, line by line.

TEST(WriteJobLog, EveryStepIsLoggedWithItsElapsedTime) {
  TrackerRig rig;
  const sim::TrackerConfig config = Tracker("52001", sim::DriverKind::Maker, 0x10040204);
  ASSERT_TRUE(rig.Add(config));
  auto device = rig.Device(config);
  TDispatcher dispatcher;
  RecordingHost host;
  host.payload = Payload(0x2400);  // sectors 4 and 6 hold data, 5 is empty
  host.version = Version("ROZI", 116);
  const JobOutcome outcome = RunJob(dispatcher, host, rig.Channel(), *device);
  ASSERT_EQ(outcome.result, kWriteSucceeded);

  std::vector<std::string> expected = {"Прошивается сектора с 4 по 6"};
  auto sector = [&](int s) {
    expected.push_back("(T) Перепрошивка сектора " + std::to_string(s) + ":");
    expected.push_back("(T) Стираем сектор " + std::to_string(s) + "...");
    expected.push_back("(T) Стирание сектора " + std::to_string(s) + ": OK");
    expected.push_back("(T) Запись сектора " + std::to_string(s) + ":");
    for (int part = 0; part < 8; ++part) {
      expected.push_back("(T)\tЧасть " + std::to_string(part) + " из 8");
    }
    expected.push_back("(T) Сектор " + std::to_string(s) + " записан");
  };
  sector(4);
  expected.push_back("(T) Перепрошивка сектора 5:");
  expected.push_back("(T) Сектор 5 пустой. Пропускаем.");
  sector(6);
  EXPECT_EQ(host.Texts(), expected);
  // 8 parts, 8 skipped at once, 8 parts: 24 steps of 1/24.
  const std::vector<int> progress = {4,  8,  12, 16, 20, 25, 29, 33, 66,
                                     70, 75, 79, 83, 87, 91, 95, 100};
  EXPECT_EQ(host.progress, progress);
}

// ---------------------------------------------------------------------------------------------
// Every reply variant: the result, the last reply code, the lines, and exactly which requests
// reached the tracker. The image fills sectors 4 and 5 of the 64-sector map; the tracker
// numbers its requests from 1: erase 4 is 1, its writes 2 to 9, erase 5 is 10, its writes 11
// to 18, the finish 19.

struct ReplyCase {
  const char* name;
  sim::TrackerFaults faults;
  int32_t result;
  int32_t last_reply;
  const char* summary;
  std::vector<std::pair<int, std::string>> lines;  // must appear, with their kind
  std::vector<std::string> absent;                 // must not appear
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
  *os << c.name;
}

class WriteJobReplies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(WriteJobReplies, EndWithTheirCodeAndSendNothingMore) {
  const ReplyCase& c = GetParam();
  TrackerRig rig;
  sim::TrackerConfig config = Tracker("53001", sim::DriverKind::Maker, 0x10040204);
  config.faults = c.faults;
  ASSERT_TRUE(rig.Add(config));
  auto device = rig.Device(config);
  TDispatcher dispatcher;
  RecordingHost host;
  host.payload = Payload(0x1800);
  std::fill(host.payload.begin() + 0x1000, host.payload.end(), uint8_t{0x11});
  host.version = Version("ROZI", 116);
  const JobOutcome outcome = RunJob(dispatcher, host, rig.Channel(), *device);

  EXPECT_EQ(outcome.result, c.result);
  EXPECT_EQ(outcome.last_reply, c.last_reply);
  EXPECT_EQ(Summary(rig.Host().Requests("53001")), c.summary);
  for (const auto& [kind, text] : c.lines) {
    EXPECT_TRUE(host.Has(kind, text)) << "missing (" << kind << ") " << text;
  }
  const std::vector<std::string> texts = host.Texts();
  for (const std::string& text : c.absent) {
    EXPECT_EQ(std::count(texts.begin(), texts.end(), text), 0) << text;
  }
}

sim::TrackerFaults Faults(const std::function<void(sim::TrackerFaults&)>& set) {
  sim::TrackerFaults faults;
  set(faults);
  return faults;
}

const char* const kWriteFailedLine = "(T) Ошибка при записи сектора 4 (0, 0, 0, 0, 0)";

INSTANTIATE_TEST_SUITE_P(
    Faults, WriteJobReplies,
    ::testing::Values(ReplyCase{"ProtectedSectorIsLoggedAndThenWritten",
                                Faults([](auto& f) {
                                  f.protectErase = {4};
                                  f.protectWrite = {4};
                                }),
                                kWriteSucceeded,
                                128,
                                "e4 w4x8 e5 w5x8 F",
                                {{1, "(T) Сектор защищен от стирания"},
                                 {0, "(T) Стирание сектора 4: OK"},
                                 {1, "(T) Сектор защищен от записи"},
                                 {0, "(T) Сектор 4 записан"}},
                                {}},
                      ReplyCase{"LockedDeviceFailsTheFirstEraseAtOnce",
                                Faults([](auto& f) { f.locked = true; }),
                                kWriteEraseFailed,
                                138,
                                "e4 f",
                                {{1, "(T) Стирание сектора 4: Ошибка!"}},
                                {"(T) Сектор защищен от стирания", "(T) Запись сектора 4:"}},
                      ReplyCase{"WrongSectorEchoFailsWithoutRetry",
                                Faults([](auto& f) { f.wrongSectorAt = {1}; }),
                                kWriteEraseFailed,
                                0,
                                "e4 f",
                                {{1, "(T) Стирание сектора 4: Ошибка!"}},
                                {}},
                      ReplyCase{"WrongAddressEchoOfAWriteFailsWithoutRetry",
                                Faults([](auto& f) { f.wrongAddressAt = {3}; }),
                                kWriteWriteFailed,
                                128,
                                "e4 w4x2 f",
                                {{1, "(T) Ошибка при записи сектора 4 (14, 14, 128, 4, 17408)"}},
                                {"(T) Сектор 4 записан", "(T) Перепрошивка сектора 5:"}},
                      ReplyCase{"WrongSectorEchoOfAWriteFailsWithoutRetry",
                                Faults([](auto& f) { f.wrongSectorAt = {3}; }),
                                kWriteWriteFailed,
                                128,
                                "e4 w4x2 f",
                                {{1, "(T) Ошибка при записи сектора 4 (14, 14, 128, 5, 16896)"}},
                                {"(T) Сектор 4 записан"}},
                      ReplyCase{"LateCopyOfAWriteReplyIsSkippedByTheNextPart",
                                Faults([](auto& f) { f.duplicateAt = {3}; }),
                                kWriteSucceeded,
                                128,
                                "e4 w4x8 e5 w5x8 F",
                                {{0, "(T) Сектор 4 записан"}},
                                {}},
                      ReplyCase{"LateCopyOfASectorsLastReplyIsSkippedByTheNextErase",
                                Faults([](auto& f) { f.duplicateAt = {9}; }),
                                kWriteSucceeded,
                                128,
                                "e4 w4x8 e5 w5x8 F",
                                {{0, "(T) Стирание сектора 5: OK"}},
                                {}},
                      ReplyCase{"LateCopyOfAnEraseReplyEchoesLikeTheFirstPart",
                                Faults([](auto& f) {
                                  f.duplicateAt = {1, 10};
                                }),
                                kWriteSucceeded,
                                128,
                                "e4 w4x8 e5 w5x8 F",
                                {},
                                {}},
                      ReplyCase{"AddressEchoOfAnEraseIsNotChecked",
                                Faults([](auto& f) {
                                  f.wrongAddressAt = {1, 10};
                                }),
                                kWriteSucceeded,
                                128,
                                "e4 w4x8 e5 w5x8 F",
                                {},
                                {}},
                      ReplyCase{"ShortRepliesAreRetriedThreeTimes",
                                Faults([](auto& f) {
                                  f.truncateAt = {{1, 13}, {2, 13}, {3, 13}};
                                }),
                                kWriteEraseFailed,
                                0,
                                "e4x3 f",
                                {{1, "(T) Стирание сектора 4: Ошибка!"}},
                                {}},
                      ReplyCase{"OneShortReplyIsMendedByTheRetry",
                                Faults([](auto& f) {
                                  f.truncateAt = {{2, 13}};
                                }),
                                kWriteSucceeded,
                                128,
                                "e4 w4x9 e5 w5x8 F",
                                {},
                                {}},
                      ReplyCase{"SilenceCostsThreeAttemptsThenZerosInTheFailureLine",
                                Faults([](auto& f) {
                                  f.dropAt = {2, 3, 4};
                                }),
                                kWriteWriteFailed,
                                128,
                                "e4 w4x3 f",
                                {{1, kWriteFailedLine}},
                                {"(T) Сектор 4 записан"}},
                      ReplyCase{"RefusedEraseKeepsItsCode",
                                Faults([](auto& f) {
                                  f.refuseAt = {{10, 133}};
                                }),
                                kWriteEraseFailed,
                                133,
                                "e4 w4x8 e5 f",
                                {{1, "(T) Стирание сектора 5: Ошибка!"}},
                                {}},
                      ReplyCase{"RefusedWriteShowsTheReplyInTheFailureLine",
                                Faults([](auto& f) {
                                  f.refuseAt = {{5, 134}};
                                }),
                                kWriteWriteFailed,
                                134,
                                "e4 w4x4 f",
                                {{1, "(T) Ошибка при записи сектора 4 (14, 14, 134, 4, 17920)"}},
                                {}},
                      ReplyCase{"LockedReplyToAWriteIsTheLastReply",
                                Faults([](auto& f) {
                                  f.refuseAt = {{2, 138}};
                                }),
                                kWriteWriteFailed,
                                138,
                                "e4 w4 f",
                                {},
                                {}}),
    [](const auto& tc) { return std::string(tc.param.name); });

// A retried request is answered once per copy on either path; the surplus must not end the job.
TEST(WriteJobLateReplies, CopiesAreSkippedOnBothDriverKinds) {
  for (const sim::DriverKind kind : {sim::DriverKind::Maker, sim::DriverKind::Ftdi}) {
    SCOPED_TRACE(kind == sim::DriverKind::Ftdi ? "FTDI" : "maker's");
    TrackerRig rig;
    sim::TrackerConfig config = Tracker("53101", kind, 0x10040204);
    config.faults.duplicateAt = {2, 9, 12};
    ASSERT_TRUE(rig.Add(config));
    auto device = rig.Device(config);
    TDispatcher dispatcher;
    RecordingHost host;
    host.payload = Payload(0x1800);
    host.version = Version("ROZI", 116);
    const JobOutcome outcome = RunJob(dispatcher, host, rig.Channel(), *device);
    EXPECT_EQ(outcome.result, kWriteSucceeded);
    EXPECT_EQ(Summary(rig.Host().Requests("53101")), "e4 w4x8 e5 w5x8 F");
  }
}

// ---------------------------------------------------------------------------------------------
// A tracker that goes away, a job that is told to stop.

struct StopCase {
  const char* name;
  int vanish_after;          // 0: stays
  const char* stop_at_line;  // the job's terminate flag is set when this line is logged
  int32_t result;
  const char* summary_start;  // what the tracker saw before it went away
  bool finish_failed_seen;    // the failure finishing request reached the tracker
};

void PrintTo(const StopCase& c, std::ostream* os) {
  *os << c.name;
}

class WriteJobStops : public ::testing::TestWithParam<StopCase> {};

TEST_P(WriteJobStops, EndWithoutClaimingSuccess) {
  const StopCase& c = GetParam();
  TrackerRig rig;
  sim::TrackerConfig config = Tracker("54001", sim::DriverKind::Maker, 0x10040204);
  config.faults.vanishAfter = c.vanish_after;
  ASSERT_TRUE(rig.Add(config));
  auto device = rig.Device(config);
  TDispatcher dispatcher;
  RecordingHost host;
  host.payload = Payload(0x3000);
  std::fill(host.payload.begin() + 0x1000, host.payload.begin() + 0x2000, uint8_t{0x22});
  host.version = Version("ROZI", 116);
  TWriteThread* job = nullptr;
  host.on_line = [&](const LoggedLine&) {
    if (c.stop_at_line != nullptr && host.Texts().back() == c.stop_at_line) {
      job->Terminate();  // as the scan does when the device is no longer listed
    }
  };
  const JobOutcome outcome =
      RunJob(dispatcher, host, rig.Channel(), *device, [&](TWriteThread& j) { job = &j; });

  EXPECT_EQ(outcome.result, c.result);
  const std::string summary = Summary(rig.Host().Requests("54001"));
  EXPECT_EQ(summary.rfind(c.summary_start, 0), 0u) << summary;
  EXPECT_EQ(summary.find('F'), std::string::npos) << summary;
  if (c.finish_failed_seen) {
    EXPECT_EQ(summary, std::string(c.summary_start) + " f");
    EXPECT_EQ(rig.Host().Status("54001").finish, sim::FinishState::Failed);
  }
  EXPECT_EQ(device->FtHandle, nullptr);
  EXPECT_EQ(device->QlHandle, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Stops, WriteJobStops,
    ::testing::Values(
        // Gone after the last part of sector 4, and the scan noticed: stop before sector 5.
        StopCase{"VanishedBetweenSectors", 9, "(T) Сектор 4 записан", kWriteInterrupted, "e4 w4x8",
                 false},
        // Stopped between sectors while the device still answers: it is told the job failed.
        StopCase{"TerminatedBetweenSectors", 0, "(T) Сектор 4 записан", kWriteInterrupted,
                 "e4 w4x8", true},
        // Gone with nobody noticing: the next request fails.
        StopCase{"VanishedUnnoticedBeforeAnErase", 9, nullptr, kWriteEraseFailed, "e4 w4x8", false},
        StopCase{"VanishedInTheMiddleOfASector", 5, nullptr, kWriteWriteFailed, "e4 w4x4", false},
        // The flag set inside a sector lets the sector finish first.
        StopCase{"TerminatedInsideASectorFinishesIt", 0, "(T)\tЧасть 3 из 8", kWriteInterrupted,
                 "e4 w4x8", true}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(WriteJobStops, DeviceThatCannotBeOpenedEndsInterruptedWithNothingSent) {
  TrackerRig rig;
  const sim::TrackerConfig config = Tracker("55001", sim::DriverKind::Ftdi, 0x10040204);
  ASSERT_TRUE(rig.Add(config));
  ASSERT_TRUE(rig.Host().Unplug("55001"));
  auto device = rig.Device(config);
  TDispatcher dispatcher;
  RecordingHost host;
  host.payload = Payload(0x800);
  host.version = Version("ROZI", 116);
  const JobOutcome outcome = RunJob(dispatcher, host, rig.Channel(), *device);
  EXPECT_EQ(outcome.result, kWriteInterrupted);
  EXPECT_EQ(host.Texts(), (std::vector<std::string>{"Прошивается сектора с 4 по 4",
                                                    "Не удалось открыть устройство"}));
  EXPECT_EQ(host.lines.back().kind, 1);
  EXPECT_TRUE(rig.Host().Requests("55001").empty());
}

// ---------------------------------------------------------------------------------------------
// Jobs that end before the device is touched.

struct RefusalCase {
  const char* name;
  std::vector<uint8_t> payload;
  int32_t address;
  const char* image_family;
  uint16_t image_number;
  RecordingHost::LoadMode load;
  int32_t result;
  std::vector<std::pair<int, std::string>> lines;  // the whole log
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.name;
}

class WriteJobRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(WriteJobRefusals, NeverOpenTheDevice) {
  const RefusalCase& c = GetParam();
  TrackerRig rig;
  // Firmware VTQL, boot loader 1.05: takes VTQL and ZOZI images of 9.00 and later.
  const sim::TrackerConfig config =
      Tracker("56001", sim::DriverKind::Maker, 0x26013F37, "BOOT-1.05", "VTQL-9.10");
  ASSERT_TRUE(rig.Add(config));
  auto device = rig.Device(config);
  TDispatcher dispatcher;
  RecordingHost host;
  host.mode = c.load;
  host.payload = c.payload;
  host.address = c.address;
  host.version = Version(c.image_family, c.image_number);
  const JobOutcome outcome = RunJob(dispatcher, host, rig.Channel(), *device);

  EXPECT_EQ(outcome.result, c.result);
  EXPECT_EQ(outcome.last_reply, 0);
  std::vector<std::pair<int, std::string>> lines;
  for (size_t i = 0; i < host.lines.size(); ++i) {
    lines.emplace_back(host.lines[i].kind, host.Texts()[i]);
  }
  EXPECT_EQ(lines, c.lines);
  EXPECT_TRUE(host.progress.empty());
  EXPECT_TRUE(rig.Host().Requests("56001").empty());
}

INSTANTIATE_TEST_SUITE_P(
    BeforeTheDevice, WriteJobRefusals,
    ::testing::Values(RefusalCase{"Incompatible",
                                  Payload(0x800),
                                  -1,
                                  "VTQL",
                                  899,
                                  RecordingHost::LoadMode::Image,
                                  kWriteIncompatible,
                                  {}},
                      RefusalCase{"OnlyErasedBytes",
                                  std::vector<uint8_t>(0x3000, 0xFF),
                                  -1,
                                  "VTQL",
                                  900,
                                  RecordingHost::LoadMode::Image,
                                  kWriteNoData,
                                  {}},
                      // Both: incompatibility is what the job reports.
                      RefusalCase{"OnlyErasedBytesAndIncompatible",
                                  std::vector<uint8_t>(0x3000, 0xFF),
                                  -1,
                                  "ROZI",
                                  900,
                                  RecordingHost::LoadMode::Image,
                                  kWriteIncompatible,
                                  {}},
                      // The 30-sector map ends at 0x80000; the image starts at 0xA000.
                      RefusalCase{"LargerThanTheMap",
                                  Payload(0x80000 - 0xA000 + 1),
                                  -1,
                                  "VTQL",
                                  900,
                                  RecordingHost::LoadMode::Image,
                                  kWriteBlockOutside,
                                  {}},
                      RefusalCase{"BlockWithAnAddressPastTheEnd",
                                  Payload(0x200),
                                  0x80000 - 0x1FF,
                                  "VTQL",
                                  900,
                                  RecordingHost::LoadMode::Image,
                                  kWriteBlockOutside,
                                  {}},
                      RefusalCase{"LoadFailed",
                                  Payload(0x800),
                                  -1,
                                  "VTQL",
                                  900,
                                  RecordingHost::LoadMode::Fail,
                                  kWriteLoadFailed,
                                  {}},
                      RefusalCase{"OversizeBlockRaisedWhileLoading",
                                  {},
                                  -1,
                                  "VTQL",
                                  900,
                                  RecordingHost::LoadMode::Oversize,
                                  kWriteLoadFailed,
                                  {{1, "Слишком большой размер блока прошивки"}}}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(WriteJobImage, BlockWithItsOwnAddressLandsThere) {
  TrackerRig rig;
  const sim::TrackerConfig config = Tracker("57001", sim::DriverKind::Maker, 0x10040204);
  ASSERT_TRUE(rig.Add(config));
  auto device = rig.Device(config);
  TDispatcher dispatcher;
  RecordingHost host;
  host.payload = Payload(0x400);
  host.address = 0x6100;  // inside sector 6; sectors 4 and 5 stay empty
  host.version = Version("ROZI", 116);
  const JobOutcome outcome = RunJob(dispatcher, host, rig.Channel(), *device);
  EXPECT_EQ(outcome.result, kWriteSucceeded);
  EXPECT_EQ(outcome.total_parts, 24);
  EXPECT_EQ(Summary(rig.Host().Requests("57001")), "e6 w6x8 F");
  const std::vector<uint8_t> flash = rig.Host().Flash("57001");
  EXPECT_TRUE(std::equal(host.payload.begin(), host.payload.end(), flash.begin() + 0x6100));
}

// ---------------------------------------------------------------------------------------------
// Shutdown while a job runs: the dispatcher refuses the job's next hand-over, and the job
// stops at once, even inside a sector, tells the device it failed and closes it.

TEST(WriteJobShutdown, RefusedHandOverStopsTheJobInsideTheSector) {
  TrackerRig rig;
  const sim::TrackerConfig config = Tracker("58001", sim::DriverKind::Ftdi, 0x26013F37);
  ASSERT_TRUE(rig.Add(config));
  auto device = rig.Device(config);
  TDispatcher dispatcher;
  RecordingHost host;
  host.payload = Payload(0x8000);  // sectors 10 to 16, 11 empty
  host.version = Version("ROZI", 116);
  JobOutcome outcome;
  const std::unique_ptr<TWriteThread> job =
      MakeJob(dispatcher, host, rig.Channel(), *device, outcome);
  job->Start();
  ASSERT_TRUE(dispatcher.PumpUntil([&] { return host.ProgressSteps() > 0; }, 60000));
  const size_t writes_before = rig.Host().Requests("58001").size() - 1;  // one erase
  dispatcher.Shutdown();

  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.result, kWriteInterrupted);
  const auto requests = rig.Host().Requests("58001");
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests.back().code, 12);
  // At most the part whose line was already queued went out after the refusal.
  EXPECT_LE(requests.size() - 2, writes_before + 1);
  EXPECT_EQ(Summary({requests.begin(), requests.begin() + 1}), "e10");
  EXPECT_EQ(device->FtHandle, nullptr);
}

TEST(WriteJobShutdown, JobThatMeetsARefusalBeforeLoadingTouchesNothing) {
  TrackerRig rig;
  const sim::TrackerConfig config = Tracker("58002", sim::DriverKind::Maker, 0x26013F37);
  ASSERT_TRUE(rig.Add(config));
  auto device = rig.Device(config);
  TDispatcher dispatcher;
  dispatcher.Shutdown();  // no workers yet: from now on every synchronous call is refused
  RecordingHost host;
  host.payload = Payload(0x800);
  host.version = Version("ROZI", 116);
  const JobOutcome outcome = RunJob(dispatcher, host, rig.Channel(), *device);
  EXPECT_EQ(outcome.result, kWriteInterrupted);
  EXPECT_EQ(host.loads, 0);
  EXPECT_TRUE(host.lines.empty());
  EXPECT_TRUE(rig.Host().Requests("58002").empty());
}

}  // namespace
