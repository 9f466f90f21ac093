// What identification makes of every kind of reply, driven through a whole scan over a maker's
// library whose one device answers each read with scripted bytes.

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "fake_libraries.h"
#include "scan_rig.h"

namespace discovery_test {
namespace {

// A reply frame written out by hand: total length, header length, code, sector 10, address 0,
// checksum 0 (never checked), then the payload.
Bytes Frame(uint16_t total, uint16_t header, uint16_t code, const Bytes& payload = {}) {
  Bytes frame = {static_cast<uint8_t>(total),
                 static_cast<uint8_t>(total >> 8),
                 static_cast<uint8_t>(header),
                 static_cast<uint8_t>(header >> 8),
                 static_cast<uint8_t>(code),
                 static_cast<uint8_t>(code >> 8),
                 10,
                 0,
                 0,
                 0,
                 0,
                 0,
                 0,
                 0};
  // resize + copy rather than insert: g++ 12 at -O2 misreads the insert as out of bounds.
  const size_t header_size = frame.size();
  frame.resize(header_size + payload.size());
  std::copy(payload.begin(), payload.end(),
            frame.begin() + static_cast<std::ptrdiff_t>(header_size));
  return frame;
}
Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}
Bytes TextZ(const std::string& text) {
  Bytes bytes = Text(text);
  bytes.push_back(0);
  return bytes;
}
Bytes Done(const Bytes& payload) {
  return Frame(static_cast<uint16_t>(14 + payload.size()), 14, 128, payload);
}
Bytes Cut(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

const Bytes kNothing = {};
const Bytes kFirmwareQuery = Done(TextZ("ROZI-1.16"));
const Bytes kProcessor = Done({0x37, 0x3F, 0x01, 0x26});
constexpr int32_t kSerial = 77;

const Line kSending = {0, kSerial, "Отправляем команду запуска загрузчика"};
const Line kStarted = {0, kSerial,
                       "Команда запуска загрузчика обработана. Переподключите устройство."};
const Line kNoProcessor = {1, 0, "нет ответа на запрос идентификатора"};
const std::vector<std::string> kBootRoad = {"open", "F4", "F5", "F10", "close"};
const std::vector<std::string> kFirmwareRoad = {"open", "F4", "FL_READ_VERSION$",
                                                "START_BOOT_LOADER", "close"};

struct ReplyCase {
  const char* name;
  std::vector<Bytes> replies;  // one per read
  int failWriteAt = 0;
  int32_t errorCode = 0;
  bool bootMode = false;
  std::string firmware = "?????";
  std::string boot = "?????";
  uint32_t processor = 0;
  bool started = false;
  std::vector<std::string> seen;
  std::vector<Line> lines;
};

// A firmware that answers its version and then the start command with `answer`.
ReplyCase StartCase(const char* name, const Bytes& answer, std::vector<Line> lines,
                    bool started = false) {
  return {.name = name,
          .replies = {kNothing, Text("ROZI-1.16"), answer},
          .firmware = "ROZI-1.16",
          .started = started,
          .seen = kFirmwareRoad,
          .lines = std::move(lines)};
}
// A query reply that is not accepted: the device is then taken for a running firmware.
ReplyCase RefusedQueryCase(const char* name, const Bytes& reply) {
  return {.name = name,
          .replies = {reply, Text("ROZI-1.16"), Text("STARTED")},
          .firmware = "ROZI-1.16",
          .started = true,
          .seen = kFirmwareRoad,
          .lines = {kSending, kStarted}};
}

std::vector<ReplyCase> Cases() {
  Bytes unterminated = Text("ROZI-2.3");
  unterminated.resize(1024 - 14, 'x');
  Bytes long_version = Text("ROZI-1.16");
  long_version.resize(1000, 'y');
  return {
      {.name = "BootLoaderAnswersAllThree",
       .replies = {kFirmwareQuery, Done(TextZ("BOOT-1.05")), kProcessor},
       .bootMode = true,
       .firmware = "ROZI-1.16",
       .boot = "BOOT-1.5",
       .processor = 0x26013F37,
       .seen = kBootRoad},
      RefusedQueryCase("QueryReplyShorterThanAHeader", Cut(kFirmwareQuery, 13)),
      RefusedQueryCase("QueryReplyHeaderLengthNot14", Frame(24, 12, 128, TextZ("ROZI-1.16"))),
      RefusedQueryCase("QueryReplyCodeNot128", Frame(24, 14, 131, TextZ("ROZI-1.16"))),
      RefusedQueryCase("QueryReplyTotalLengthExactly14", Frame(14, 14, 128, TextZ("ROZI-1.16"))),
      {.name = "QueryReplyLongerThanReceivedIsStillAccepted",
       .replies = {Frame(500, 14, 128, TextZ("ROZI-1.16")), Done(TextZ("BOOT-1.05")), kProcessor},
       .bootMode = true,
       .firmware = "ROZI-1.16",
       .boot = "BOOT-1.5",
       .processor = 0x26013F37,
       .seen = kBootRoad},
      {.name = "PayloadWithoutZeroByteEndsWithTheBuffer",
       .replies = {Frame(1024, 14, 128, unterminated)},
       .bootMode = true,
       .firmware = "ROZI-2.3" + std::string(1024 - 14 - 8, 'x'),
       .seen = kBootRoad,
       .lines = {kNoProcessor}},
      {.name = "GarbageOf1024BytesAndSilence",
       .replies = {Bytes(1024, 0xFF)},
       .errorCode = 8,
       .seen = {"open", "F4", "FL_READ_VERSION$", "FL_READ_VERSION$", "FL_READ_VERSION$",
                "FL_READ_VERSION$", "close"}},
      {.name = "VersionOfSevenBytesFourTimes",
       .replies = {kNothing, Text("ROZI-1."), Text("ROZI-1."), Text("ROZI-1."), Text("ROZI-1.")},
       .errorCode = 8,
       .seen = {"open", "F4", "FL_READ_VERSION$", "FL_READ_VERSION$", "FL_READ_VERSION$",
                "FL_READ_VERSION$", "close"}},
      {.name = "VersionOnTheThirdAttemptThenNoStartAnswer",
       .replies = {kNothing, kNothing, Text("garbage!"), Text("ROZI-1.16")},
       .firmware = "ROZI-1.16",
       .seen = {"open", "F4", "FL_READ_VERSION$", "FL_READ_VERSION$", "FL_READ_VERSION$",
                "START_BOOT_LOADER", "close"},
       .lines = {kSending, {1, kSerial, "Прибор не ответил на команду запуска загрузчика."}}},
      {.name = "VersionReplyIsCutAtItsCapacity",
       .replies = {kNothing, long_version, Text("STARTED")},
       .firmware = "ROZI-1.16" + std::string(100 - 9, 'y'),
       .started = true,
       .seen = kFirmwareRoad,
       .lines = {kSending, kStarted}},
      {.name = "UnknownCountsAsAVersion",
       .replies = {kNothing, TextZ("Unknown"), Text("STARTED")},
       .firmware = "Empty",
       .started = true,
       .seen = kFirmwareRoad,
       .lines = {kSending, kStarted}},
      StartCase("StartedFollowedByMoreText", Text("STARTED OK\r\n"), {kSending, kStarted}, true),
      StartCase("StartedInLowerCaseIsUnknown", Text("started"),
                {kSending, {1, kSerial, "Неизвестный ответ прибора: started"}}),
      StartCase("StartError", Text("START ERROR"),
                {kSending, {1, kSerial, "Ошибка запуска загрузчика"}}),
      StartCase("UnknownAnswerIsReadAsWindows1251", Bytes{0xCE, 0xE9, '!', 0, 'z'},
                {kSending, {1, kSerial, "Неизвестный ответ прибора: Ой!"}}),
      {.name = "StartCommandNotWritten",
       .replies = {kNothing, Text("ROZI-1.16")},
       .failWriteAt = 3,
       .firmware = "ROZI-1.16",
       .seen = {"open", "F4", "FL_READ_VERSION$", "close"},
       .lines = {kSending, {1, kSerial, "Ошибка драйвера."}}},
      {.name = "BootVersionRefusedProcessorRead",
       .replies = {kFirmwareQuery, Frame(24, 14, 131, TextZ("BOOT-1.05")), kProcessor},
       .bootMode = true,
       .firmware = "ROZI-1.16",
       .processor = 0x26013F37,
       .seen = kBootRoad},
      {.name = "ProcessorReplyRefusedChangesNothing",
       .replies = {kFirmwareQuery, Done(TextZ("BOOT-1.05")), Frame(18, 14, 138, {1, 2, 3, 4})},
       .bootMode = true,
       .firmware = "ROZI-1.16",
       .boot = "BOOT-1.5",
       .seen = kBootRoad},
      {.name = "ProcessorPayloadOfOneByte",
       .replies = {kFirmwareQuery, Done(TextZ("BOOT-1.05")), Done({0x42})},
       .bootMode = true,
       .firmware = "ROZI-1.16",
       .boot = "BOOT-1.5",
       .processor = 0x42,
       .seen = kBootRoad},
      {.name = "ProcessorReplyShorterThanAHeader",
       .replies = {kFirmwareQuery, Done(TextZ("BOOT-1.05")), Cut(kProcessor, 13)},
       .bootMode = true,
       .firmware = "ROZI-1.16",
       .boot = "BOOT-1.5",
       .seen = kBootRoad,
       .lines = {kNoProcessor}},
  };
}

class IdentifyReplies : public testing::TestWithParam<ReplyCase> {};

TEST_P(IdentifyReplies, RecordLogAndRequestsFollowTheReplies) {
  const ReplyCase& c = GetParam();
  ScriptedQl ql;
  ql.devices.push_back({.serial = "77", .replies = c.replies, .failWriteAt = c.failWriteAt});
  ScanRig rig(nullptr, &ql.Table());
  ScanOutcome outcome = rig.Run();

  EXPECT_EQ(outcome.ErrorCode, c.errorCode);
  EXPECT_EQ(outcome.LastReply, 0);
  EXPECT_EQ(ql.devices[0].seen, c.seen);
  EXPECT_EQ(outcome.Lines, c.lines);
  ASSERT_EQ(outcome.NewDevices.size(), 1u);
  const updater::TDevEntry& dev = *outcome.NewDevices[0];
  EXPECT_EQ(dev.Serial, kSerial);
  EXPECT_EQ(dev.Driver, 1u);
  EXPECT_EQ(dev.BootMode, c.bootMode);
  EXPECT_EQ(dev.FirmwareVersion.VersionText(), c.firmware);
  EXPECT_EQ(dev.BootVersion.VersionText(), c.boot);
  EXPECT_EQ(dev.ProcessorId, c.processor);
  EXPECT_EQ(dev.BootStarted, c.started);
  EXPECT_EQ(dev.QlHandle, 0u) << "identification must close the device";
}

INSTANTIATE_TEST_SUITE_P(AllReplies, IdentifyReplies, testing::ValuesIn(Cases()),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace discovery_test
