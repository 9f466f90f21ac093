#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FirmwareVersion.h"
#include "ScanDecimal.h"

using namespace updater;
using namespace std::string_literals;

TEST(FirmwareVersion, ParseFillsTheRecordAndVersionTextShowsIt) {
  const struct {
    const char* before;  // parsed first into the record; nullptr: a fresh record
    std::string text;
    bool ok;
    const char* family;
    uint16_t number;
    const char* suffix;
    const char* display;
  } cases[] = {
      {nullptr, "ROZI-1.16", true, "ROZI", 116, "", "ROZI-1.16"},
      {nullptr, "Unknown", true, "unk", 1, "", "Empty"},
      {nullptr, "unknown", false, "", 0, "", "?????"},
      {nullptr, "ROZI-2.123", true, "ROZI", 323, "", "ROZI-3.23"},
      {nullptr, "ROZI-700.0", true, "ROZI", 4464, "", "ROZI-44.64"},
      {nullptr, "ROZI-1.05", true, "ROZI", 105, "", "ROZI-1.5"},
      {nullptr, "ROZI-1.16 rc", true, "ROZI", 116, "rc", "ROZI-1.16rc"},
      {nullptr, "ROZI-1.16-2", true, "ROZI", 116, "-2", "ROZI-1.16-2"},
      {nullptr, "ROZI-1.16 бета\r\n", true, "ROZI", 116, "бета", "ROZI-1.16бета"},
      {nullptr, "-1.16", false, "", 0, "", "?????"},
      {nullptr, "ROZI-", false, "ROZI", 0, "", "?????"},
      {nullptr, "ROZI-x", false, "ROZI", 0, "", "?????"},
      {nullptr, "ROZI-1", false, "ROZI", 0, "", "?????"},
      // scanf reading: blanks and a sign before each number, the rest kept as the suffix.
      {nullptr, "ROZI- 1. 16", true, "ROZI", 116, "1. 16", "ROZI-1.161. 16"},
      {nullptr, "ROZI--1.16", true, "ROZI", 65452, "-1.16", "ROZI-654.52-1.16"},
      // A number beyond 32 bits wraps instead of overflowing.
      {nullptr, "ROZI-99999999999.1", true, "ROZI", 40861, "", "ROZI-408.61"},
      // The text ends at its first zero byte.
      {nullptr, "ROZI-1.16\0junk"s, true, "ROZI", 116, "", "ROZI-1.16"},
      {nullptr, "ROZ\0I-1.16"s, false, "", 0, "", "?????"},
      // A failure replaces Family only; "Unknown" keeps the suffix; a new parse drops it.
      {"ROZI-1.16 rc", "VTQL-x", false, "VTQL", 116, "rc", "VTQL-1.16rc"},
      {"ROZI-1.16 rc", "Unknown", true, "unk", 1, "rc", "Empty"},
      {"ROZI-1.16 rc", "VTQL-2.01", true, "VTQL", 201, "", "VTQL-2.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TFirmwareVersion version;
    if (c.before != nullptr) {
      ASSERT_TRUE(version.Parse(c.before));
    }
    EXPECT_EQ(version.Parse(c.text), c.ok);
    EXPECT_EQ(version.Family, c.family);
    EXPECT_EQ(version.Number, c.number);
    EXPECT_EQ(version.Suffix, c.suffix);
    EXPECT_EQ(version.VersionText(), c.display);
  }
}

TEST(FirmwareVersion, ParseLeavesTheBuildDateAndClearEmptiesEverything) {
  TFirmwareVersion version;
  version.BuildDate = 41585.5;
  ASSERT_TRUE(version.Parse("ROZI-1.16 rc"));
  EXPECT_EQ(version.BuildDate, 41585.5);
  version.Clear();
  EXPECT_EQ(version.Family, "");
  EXPECT_EQ(version.Suffix, "");
  EXPECT_EQ(version.Number, 0);
  EXPECT_EQ(version.BuildDate, 0);
}

TEST(FirmwareVersion, BuildDateTextShowsDayMonthYearAndTime) {
  const struct {
    double date;
    const char* text;
  } cases[] = {
      {0, "неизвестна"},
      {0.75, "неизвестна"},  // a time without a day is no date
      {-0.75, "неизвестна"},
      {41585 + 59119 / 86400.0, "07-11-2013 16:25:19"},
      {1, "31-12-1899 00:00:00"},
      {-1.25, "29-12-1899 06:00:00"},  // before the epoch the time counts away from zero
      {41585.99999999, "07-11-2013 23:59:59"},
  };
  for (const auto& c : cases) {
    TFirmwareVersion version;
    version.BuildDate = c.date;
    EXPECT_EQ(version.BuildDateText(), c.text) << c.date;
  }
}

TEST(FirmwareVersion, EncodeBuildDateAcceptsOnlyRealDates) {
  const struct {
    int32_t y, mo, d, h, mi, s;
    const char* text;  // nullptr: refused
  } cases[] = {
      {2013, 11, 7, 16, 25, 19, "07-11-2013 16:25:19"},
      {2012, 2, 29, 0, 0, 0, "29-02-2012 00:00:00"},
      {2000, 2, 29, 12, 0, 0, "29-02-2000 12:00:00"},
      {1, 1, 1, 0, 0, 0, "01-01-0001 00:00:00"},
      {9999, 12, 31, 23, 59, 59, "31-12-9999 23:59:59"},
      {1899, 12, 29, 6, 0, 0, "29-12-1899 06:00:00"},
      {2013, 2, 29, 0, 0, 0, nullptr},
      {1900, 2, 29, 0, 0, 0, nullptr},
      {2013, 2, 31, 10, 0, 0, nullptr},
      {2013, 4, 31, 0, 0, 0, nullptr},
      {2013, 0, 1, 0, 0, 0, nullptr},
      {2013, 13, 1, 0, 0, 0, nullptr},
      {2013, 1, 0, 0, 0, 0, nullptr},
      {0, 1, 1, 0, 0, 0, nullptr},
      {10000, 1, 1, 0, 0, 0, nullptr},
      {2013, 1, 1, 24, 0, 0, nullptr},
      {2013, 1, 1, 0, 60, 0, nullptr},
      {2013, 1, 1, 0, 0, 60, nullptr},
      {2013, 1, 1, -1, 0, 0, nullptr},
  };
  for (const auto& c : cases) {
    const std::optional<double> date = EncodeBuildDate(c.y, c.mo, c.d, c.h, c.mi, c.s);
    SCOPED_TRACE(testing::Message()
                 << c.y << '-' << c.mo << '-' << c.d << ' ' << c.h << ':' << c.mi << ':' << c.s);
    ASSERT_EQ(date.has_value(), c.text != nullptr);
    if (date) {
      TFirmwareVersion version;
      version.BuildDate = *date;
      EXPECT_EQ(version.BuildDateText(), c.text);
    }
  }
  EXPECT_DOUBLE_EQ(*EncodeBuildDate(2013, 11, 7, 16, 25, 19), 41585 + 59119 / 86400.0);
}

TEST(FirmwareVersion, TimeSeparatorIsTakenFromTheLocaleTimeFormat) {
  const struct {
    const char* format;
    const char* separator;
  } cases[] = {
      {"%H:%M:%S", ":"}, {"%H.%M.%S", "."}, {"%T", ":"},        {"%I:%M:%S %p", ":"},
      {"%r", ":"},       {"%OH.%OM", "."},  {"%k h %M", " h "}, {"%%H%H-%M", "-"},
      {"", ":"},         {"%H", ":"},       {"%", ":"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TimeSeparatorOf(c.format), c.separator) << c.format;
  }
  // The tests run under the C locale.
  EXPECT_EQ(TimeSeparator(), ":");
}

TEST(Checksum16, SumsLittleEndianWordsWithEndAroundCarry) {
  const struct {
    std::vector<uint8_t> bytes;
    uint16_t sum;
  } cases[] = {
      {{'a', 'b', 'c'}, 0x62C4},
      {{}, 0},
      {{0xFF, 0xFF, 0x01, 0x00}, 0x0001},
      {{0xFF, 0xFF, 0xFF}, 0x00FF},
      {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 0x0C09},
      {{0xFF, 0xFF}, 0xFFFF},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Checksum16(c.bytes.data(), static_cast<uint16_t>(c.bytes.size())), c.sum)
        << c.bytes.size() << " bytes";
  }
}

TEST(Checksum16, ALongerLengthIsTakenModulo65536) {
  std::vector<uint8_t> bytes(65539, 0xA5);
  bytes[0] = 'a';
  bytes[1] = 'b';
  bytes[2] = 'c';
  const size_t length = bytes.size();
  EXPECT_EQ(Checksum16(bytes.data(), static_cast<uint16_t>(length)), 0x62C4);
}

TEST(ScanDecimals, ReadsLikeScanfWithoutOverflow) {
  const struct {
    const char* text;
    const char* pattern;
    size_t count;
    std::vector<int32_t> numbers;
  } cases[] = {
      {"07.11.2013 16:25:19", "%d.%d.%d %d:%d:%d", 6, {7, 11, 2013, 16, 25, 19}},
      {" 7. -11.+2013\t\n16:25:19 trailing", "%d.%d.%d %d:%d:%d", 6, {7, -11, 2013, 16, 25, 19}},
      {"07.11.201316:25:19", "%d.%d.%d %d:%d:%d", 3, {7, 11, 201316}},
      {"07.11.2013 16:25", "%d.%d.%d %d:%d:%d", 5, {7, 11, 2013, 16, 25}},
      {"07 .11", "%d.%d", 1, {7}},
      {"+.5", "%d.%d", 0, {}},
      {"", "%d.%d", 0, {}},
      {"4294967297.-2147483649", "%d.%d", 2, {1, 2147483647}},
  };
  for (const auto& c : cases) {
    int32_t numbers[6] = {};
    const size_t count = ScanDecimals(c.text, c.pattern, numbers);
    EXPECT_EQ(count, c.count) << c.text;
    EXPECT_EQ(std::vector<int32_t>(numbers, numbers + count), c.numbers) << c.text;
  }
}
