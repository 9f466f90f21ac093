// The stand-in D2XX on its own: the device-info list from the published folder, open by serial
// number or description, the vendor's read and status semantics, and a vanishing device.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "loaded_libs.h"
#include "pty_device.h"

namespace updater {
namespace {

class StandInD2xx : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(ft_, nullptr);
    ::setenv("FTD2XX_SIM_DIR", dir_.Path().c_str(), 1);
    dir_.Link("1001", device_.Path());
    dir_.WriteFile("1001.desc", "Veltorium Tracker A\n");
  }
  void TearDown() override {
    for (FT_HANDLE handle : handles_) {
      ft_->FT_Close(handle);
    }
  }
  FT_HANDLE Open(const char* key, DWORD flags) {
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(1);
    const FT_STATUS status = ft_->FT_OpenEx(const_cast<char*>(key), flags, &handle);
    EXPECT_EQ(status == FT_OK, handle != nullptr) << key;
    if (handle != nullptr) {
      handles_.push_back(handle);
    }
    return handle;
  }
  std::vector<FT_DEVICE_LIST_INFO_NODE> List() const {
    DWORD count = 0;
    EXPECT_EQ(ft_->FT_CreateDeviceInfoList(&count), FT_OK);
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(count);
    if (count != 0) {
      EXPECT_EQ(ft_->FT_GetDeviceInfoList(nodes.data(), &count), FT_OK);
      EXPECT_EQ(count, nodes.size());
    }
    return nodes;
  }

  const TFtdiLibrary* ft_ = testing_pty::StandInFtdi();
  testing_pty::TDeviceDir dir_;
  testing_pty::TSocketDevice device_;
  std::vector<FT_HANDLE> handles_;
};

TEST_F(StandInD2xx, ListsPublishedDevicesWithTheirSerialAndDescription) {
  testing_pty::TSocketDevice held;
  dir_.Link("1002", held.Path());                      // no .desc: another driver's
  dir_.WriteFile("1003.desc", "a description alone");  // no device
  dir_.Link("1004", dir_.Path() + "/gone");            // dangling
  dir_.WriteFile("1004.desc", "Veltorium Tracker D");
  dir_.WriteFile("1005", "not a device");
  dir_.Link("12345678901234567", device_.Path());  // too long for the serial field

  const auto nodes = List();
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0].Flags, 0u);
  EXPECT_STREQ(nodes[0].SerialNumber, "1001");
  EXPECT_STREQ(nodes[0].Description, "Veltorium Tracker A");
  EXPECT_EQ(nodes[1].Flags, 1u);
  EXPECT_STREQ(nodes[1].SerialNumber, "");
  EXPECT_STREQ(nodes[1].Description, "");
  EXPECT_EQ(Open("1002", FT_OPEN_BY_SERIAL_NUMBER), nullptr) << "held by another driver";
}

TEST_F(StandInD2xx, OpensADeviceOnceBySerialNumberOrDescription) {
  FT_HANDLE handle = Open("1001", FT_OPEN_BY_SERIAL_NUMBER);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(Open("1001", FT_OPEN_BY_SERIAL_NUMBER), nullptr) << "open already";
  const auto nodes = List();
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].Flags, 1u);
  EXPECT_EQ(nodes[0].ftHandle, handle);

  EXPECT_EQ(ft_->FT_Close(handle), FT_OK);
  handles_.clear();
  EXPECT_NE(ft_->FT_Close(handle), FT_OK) << "a closed handle is not followed";
  EXPECT_NE(Open("Veltorium Tracker A", 2), nullptr);
  for (const char* other : {"100", "10011", "", "Veltorium Tracker A"}) {
    EXPECT_EQ(Open(other, FT_OPEN_BY_SERIAL_NUMBER), nullptr) << other;
  }
}

TEST_F(StandInD2xx, ReadsWhatArrivesWithinTheReadTimeout) {
  FT_HANDLE handle = Open("1001", FT_OPEN_BY_SERIAL_NUMBER);
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(ft_->FT_SetTimeouts(handle, 30, 30), FT_OK);
  device_.Send("abcdef");
  DWORD rx = 0;
  DWORD tx = 9;
  DWORD events = 9;
  EXPECT_EQ(ft_->FT_GetStatus(handle, &rx, &tx, &events), FT_OK);
  EXPECT_EQ(rx, 6u);
  EXPECT_EQ(ft_->FT_GetQueueStatus(handle, &rx), FT_OK);
  EXPECT_EQ(rx, 6u);

  char buffer[16] = {};
  DWORD got = 0;
  EXPECT_EQ(ft_->FT_Read(handle, buffer, 4, &got), FT_OK);
  EXPECT_EQ(std::string(buffer, got), "abcd");
  EXPECT_EQ(ft_->FT_Read(handle, buffer, 10, &got), FT_OK) << "a time-out is not an error";
  EXPECT_EQ(std::string(buffer, got), "ef");

  DWORD written = 0;
  EXPECT_EQ(ft_->FT_Write(handle, const_cast<char*>("xyz"), 3, &written), FT_OK);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(device_.Receive(3), "xyz");
}

TEST_F(StandInD2xx, AVanishedDeviceIsAnIoError) {
  FT_HANDLE handle = Open("1001", FT_OPEN_BY_SERIAL_NUMBER);
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(ft_->FT_SetTimeouts(handle, 5000, 5000), FT_OK);
  device_.Hangup();
  DWORD rx = 0;
  DWORD tx = 0;
  DWORD events = 0;
  char buffer[4];
  DWORD count = 0;
  EXPECT_EQ(ft_->FT_GetStatus(handle, &rx, &tx, &events), 4u);
  EXPECT_EQ(ft_->FT_Read(handle, buffer, 4, &count), 4u);
  EXPECT_EQ(ft_->FT_Write(handle, buffer, 4, &count), 4u);
  EXPECT_EQ(ft_->FT_ResetDevice(handle), 4u);
}

TEST_F(StandInD2xx, MadeUpHandlesAreRefused) {
  int not_a_device = 0;
  FT_HANDLE bogus = &not_a_device;
  DWORD rx = 0;
  DWORD tx = 0;
  DWORD events = 0;
  char buffer[4];
  DWORD count = 0;
  EXPECT_EQ(ft_->FT_GetStatus(bogus, &rx, &tx, &events), 1u);
  EXPECT_EQ(ft_->FT_Read(bogus, buffer, 4, &count), 1u);
  EXPECT_EQ(ft_->FT_Write(bogus, buffer, 4, &count), 1u);
  EXPECT_EQ(ft_->FT_SetTimeouts(nullptr, 1, 1), 1u);
  EXPECT_EQ(ft_->FT_Close(bogus), 1u);
}

}  // namespace
}  // namespace updater
