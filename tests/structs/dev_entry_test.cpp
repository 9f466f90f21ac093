#include <gtest/gtest.h>

#include "DevEntry.h"

using namespace updater;

TEST(DevEntry, SerialTextIsReadAsADecimalNumberOrMinusOne) {
  const struct {
    const char* text;
    int32_t serial;
  } cases[] = {
      {"0042", 42},
      {"1234567", 1234567},
      {"-1", -1},
      {"abc", -1},
      {"", -1},
      {"12ab", -1},
      {"2147483647", 2147483647},
      {"2147483648", -1},
      {"123456789012345678901", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TDevEntry(c.text, 0xFFFF, 0).Serial, c.serial) << c.text;
  }
}

TEST(DevEntry, NewRecordStartsEmpty) {
  TDevEntry entry("77", 5, 1);
  EXPECT_EQ(entry.ListCode, 5);
  EXPECT_EQ(entry.Driver, 1u);
  EXPECT_EQ(entry.ProcessorId, 0u);
  EXPECT_EQ(entry.Id, 0u);
  EXPECT_FALSE(entry.BootMode || entry.BootStarted || entry.Removed || entry.Unplugged);
  EXPECT_EQ(entry.FtHandle, nullptr);
  EXPECT_EQ(entry.QlHandle, 0u);
}

TEST(DevEntry, FindAndDeleteActOnTheFirstRecordWithTheSerial) {
  TDevList list;
  list.push_back(std::make_unique<TDevEntry>("10", 0, 0));
  list.push_back(std::make_unique<TDevEntry>("20", 1, 0));
  list.push_back(std::make_unique<TDevEntry>("20", 2, 0));
  EXPECT_EQ(FindDevice(list, 20)->ListCode, 1);
  EXPECT_EQ(FindDevice(list, 30), nullptr);
  DeleteDevice(list, 20);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(FindDevice(list, 20)->ListCode, 2);
  DeleteDevice(list, 30);
  EXPECT_EQ(list.size(), 2u);
}
