// libZIZUZ on its own: which directory entries it lists, how it opens, reads and writes a tty,
// and how it fails. Devices are pseudo-terminals published in a scratch device directory.

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "loaded_libs.h"
#include "pty_device.h"

namespace updater {
namespace {

using testing_pty::MakerEntry;

struct Listed {
  uint16_t list_code;
  std::string serial;
  bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& r) {
  return out << r.serial << "/if" << r.list_code;
}

class Zizuz : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(ql_, nullptr);
    ::setenv("ZIZUZ_DEVICE_DIR", dir_.Path().c_str(), 1);
  }
  void TearDown() override {
    for (uint32_t& handle : handles_) {
      ql_->QL_CloseDevice(&handle);
    }
  }

  // The two calls of the program's listing: the count, then the records.
  std::vector<Listed> List(uint32_t filter = kQlListAll) const {
    uint32_t count = 5;
    EXPECT_EQ(ql_->QL_GetListDevices(filter, nullptr, &count), 0u);
    std::vector<uint8_t> records(count * kQlListRecordSize);
    EXPECT_EQ(ql_->QL_GetListDevices(filter, records.data(), &count), 0u);
    std::vector<Listed> listed;
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* record = records.data() + i * kQlListRecordSize;
      uint16_t code = 0;
      std::memcpy(&code, record + kQlListCodeOffset, sizeof code);
      const auto* serial = reinterpret_cast<const char*>(record + kQlSerialOffset);
      EXPECT_NE(std::memchr(serial, 0, kQlSerialSize), nullptr) << "terminated in its field";
      listed.push_back({code, std::string(serial, ::strnlen(serial, kQlSerialSize))});
    }
    return listed;
  }
  uint32_t Open(uint16_t list_code, const char* serial) {
    uint32_t handle = 99;
    const uint32_t status = ql_->QL_OpenDevice(list_code, serial, &handle);
    EXPECT_EQ(status == 0, handle != 0) << "a handle exactly when the open succeeds";
    if (handle != 0) {
      handles_.push_back(handle);
    }
    return handle;
  }

  const TQlLibrary* ql_ = testing_pty::Zizuz();
  testing_pty::TDeviceDir dir_;
  testing_pty::TPtyDevice device_;
  std::vector<uint32_t> handles_;
};

TEST_F(Zizuz, ListsTheEntriesNamedByTheRuleThatLeadToATty) {
  for (const char* name : {
           "usb-Veltorium_Tracker_12345-if00",
           "usb-Veltorium_GPS_Tracker_v2_0042-if01",
           "usb-Veltorium_T_99999999999999999999-if0a",         // 20 digits fit the record
           "usb-Veltorium_Tracker_123456789012345678901-if00",  // 21 do not
           "usb-Veltorium__123-if00",                           // no model
           "usb-Veltorium_Tracker_-if00",                       // no serial
           "usb-Veltorium_Tracker_12a-if00",                    // not digits
           "usb-Veltorium_Tracker_-12-if00",                    // not digits
           "usb-Veltorium_Tracker_123-if0",                     // one interface digit
           "usb-Veltorium_Tracker_123-if000",                   // three
           "usb-Veltorium_Tracker_123-ifzz",                    // not hexadecimal
           "usb-Veltorium_Tracker_123-if00-port0",              // something after
           "usb-Other_Tracker_123-if00",                        // another maker
           "usb-veltorium_Tracker_123-if00",                    // case matters
           "Veltorium_Tracker_123-if00",
       }) {
    dir_.Link(name, device_.TtyPath());
  }
  // Well-named entries that lead to no tty.
  dir_.Link(MakerEntry("700"), dir_.Path() + "/missing");  // dangling
  dir_.Link(MakerEntry("701"), MakerEntry("701"));         // a loop
  dir_.WriteFile(MakerEntry("702"), "not a device");       // regular file
  dir_.Link(MakerEntry("703"), "/dev/null");               // character device, not a tty
  dir_.Link(MakerEntry("704"), dir_.Path());               // folder

  // Ordered by entry name.
  const std::vector<Listed> all = {{1, "0042"}, {10, "99999999999999999999"}, {0, "12345"}};
  EXPECT_EQ(List(), all);
  EXPECT_EQ(List(1), (std::vector<Listed>{{1, "0042"}})) << "one interface only";
  EXPECT_EQ(List(5), std::vector<Listed>{});
}

TEST_F(Zizuz, FillsNoMoreRecordsThanTheCallerHasRoomFor) {
  for (const char* serial : {"1", "2", "3"}) {
    dir_.Link(MakerEntry(serial), device_.TtyPath());
  }
  std::vector<uint8_t> records(3 * kQlListRecordSize, 0xEE);
  for (const uint32_t room : {0u, 2u}) {
    uint32_t count = room;
    EXPECT_EQ(ql_->QL_GetListDevices(kQlListAll, records.data(), &count), 0u);
    EXPECT_EQ(count, room);
    EXPECT_EQ(records[room * kQlListRecordSize], 0xEE) << room;
    EXPECT_EQ(records.back(), 0xEE) << room;
  }
  EXPECT_NE(ql_->QL_GetListDevices(kQlListAll, records.data(), nullptr), 0u);
}

TEST_F(Zizuz, HandlesTenThousandEntries) {
  for (int i = 1; i <= 10000; ++i) {
    dir_.Link(MakerEntry(std::to_string(i), i % 3), device_.TtyPath());
  }
  const auto listed = List();
  ASSERT_EQ(listed.size(), 10000u);
  std::set<std::string> serials;
  for (const Listed& r : listed) {
    serials.insert(r.serial);
  }
  EXPECT_EQ(serials.size(), 10000u);
  EXPECT_NE(Open(5000 % 3, "5000"), 0u);
  EXPECT_EQ(Open(kQlListAll, "10001"), 0u);
}

TEST_F(Zizuz, OpensByInterfaceAndSerialNumber) {
  dir_.Link("usb-Veltorium_Tracker_0042-if01", device_.TtyPath());
  EXPECT_NE(Open(1, "42"), 0u) << "the same number as the listed 0042";
  EXPECT_NE(Open(kQlListAll, "0042"), 0u);
  EXPECT_EQ(Open(0, "42"), 0u) << "another interface";
  const std::string long_serial(100, '4');
  for (const char* serial : {"-1", "", "abc", "42 ", "4", long_serial.c_str()}) {
    EXPECT_EQ(Open(1, serial), 0u) << serial;
  }
  uint32_t handle = 99;
  EXPECT_NE(ql_->QL_OpenDevice(1, nullptr, &handle), 0u);
  EXPECT_EQ(handle, 0u);
  EXPECT_NE(ql_->QL_OpenDevice(1, "42", nullptr), 0u);

  // Handles are the library's own small numbers, distinct while open.
  ASSERT_EQ(handles_.size(), 2u);
  EXPECT_NE(handles_[0], handles_[1]);
  EXPECT_LT(handles_[1], 1u << 16);
}

// Why an open failed, for the calling thread only: a tty whose mode allows nobody, opened by a
// thread without the capabilities by which root would open it anyway, gives EACCES and the
// tty's own path behind the link.
TEST_F(Zizuz, OpenErrorTellsTheCallingThreadWhyItsTtyWouldNotOpen) {
  ASSERT_NE(ql_->QL_GetOpenError, nullptr);
  dir_.Link(MakerEntry("77"), device_.TtyPath());
  const auto open_error = [&](uint32_t path_size = 256) {
    int32_t error = -1;
    std::string path(256, 'x');
    EXPECT_EQ(ql_->QL_GetOpenError(&error, path.data(), path_size), 0u);
    path.resize(::strnlen(path.data(), path.size()));
    return std::make_pair(error, path);
  };
  struct stat info {};
  ASSERT_EQ(::stat(device_.TtyPath().c_str(), &info), 0);
  ASSERT_EQ(::chmod(device_.TtyPath().c_str(), 0), 0);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct caps[2] = {};
  ASSERT_EQ(::syscall(SYS_capget, &header, caps), 0);
  EXPECT_EQ(Open(kQlListAll, "78"), 0u);  // this thread's own record: nothing found
  std::pair<int32_t, std::string> denied, cut, other_thread;
  std::thread opener([&] {
    __user_cap_data_struct reduced[2] = {caps[0], caps[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    ASSERT_EQ(::syscall(SYS_capset, &header, reduced), 0);
    EXPECT_EQ(Open(kQlListAll, "77"), 0u);
    denied = open_error();
    cut = open_error(4);
  });
  opener.join();
  other_thread = open_error();
  ::chmod(device_.TtyPath().c_str(), info.st_mode & 07777);

  EXPECT_EQ(denied, std::make_pair(int32_t{EACCES}, device_.TtyPath()));
  EXPECT_EQ(cut.second, device_.TtyPath().substr(0, 3)) << "cut to the buffer, NUL included";
  EXPECT_EQ(other_thread, std::make_pair(int32_t{0}, std::string())) << "per thread";

  // A later open that finds nothing, or opens, clears it.
  EXPECT_EQ(Open(kQlListAll, "78"), 0u);
  EXPECT_EQ(open_error().first, 0);
  EXPECT_NE(Open(kQlListAll, "77"), 0u);
  EXPECT_EQ(open_error(), std::make_pair(int32_t{0}, std::string()));
  int32_t error = 0;
  EXPECT_NE(ql_->QL_GetOpenError(nullptr, nullptr, 0), 0u);
  EXPECT_NE(ql_->QL_GetOpenError(&error, nullptr, 8), 0u);
}

TEST_F(Zizuz, CloseClearsTheHandleAndStaleHandlesFailEverywhere) {
  dir_.Link(MakerEntry("7"), device_.TtyPath());
  uint32_t handle = Open(0, "7");
  ASSERT_NE(handle, 0u);
  const uint32_t stale = handle;
  EXPECT_EQ(ql_->QL_CloseDevice(&handle), 0u);
  EXPECT_EQ(handle, 0u);
  handles_.clear();

  uint8_t byte = 0;
  uint32_t count = 5;
  for (const uint32_t bad : {stale, 0u, 123456u}) {
    EXPECT_NE(ql_->QL_ReadNotTimeOut(bad, &byte, 1, &count), 0u);
    EXPECT_EQ(count, 0u);
    count = 5;
    EXPECT_NE(ql_->QL_Write(bad, &byte, 1, &count), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_NE(ql_->QL_Purge(bad), 0u);
    EXPECT_NE(ql_->QL_SetTimeouts(bad, 1, 1), 0u);
    uint32_t copy = bad;
    EXPECT_NE(ql_->QL_CloseDevice(&copy), 0u);
    EXPECT_EQ(copy, 0u);
  }
  EXPECT_NE(ql_->QL_CloseDevice(nullptr), 0u);
}

TEST_F(Zizuz, ReadsAReplyInOneCallAndTimesOutOnSilence) {
  dir_.Link(MakerEntry("7"), device_.TtyPath());
  const uint32_t handle = Open(0, "7");
  ASSERT_NE(handle, 0u);
  ASSERT_EQ(ql_->QL_SetTimeouts(handle, 30, 30), 0u);
  char buffer[64] = {};
  uint32_t count = 99;
  EXPECT_NE(ql_->QL_ReadNotTimeOut(handle, buffer, sizeof buffer, &count), 0u) << "time-out";
  EXPECT_EQ(count, 0u);

  device_.Send("14-byte reply.");
  EXPECT_EQ(ql_->QL_ReadNotTimeOut(handle, buffer, sizeof buffer, &count), 0u);
  EXPECT_EQ(std::string(buffer, count), "14-byte reply.");

  device_.Send("0123456789");
  EXPECT_EQ(ql_->QL_ReadNotTimeOut(handle, buffer, 4, &count), 0u);
  EXPECT_EQ(std::string(buffer, count), "0123");
  EXPECT_EQ(ql_->QL_Purge(handle), 0u);
  EXPECT_NE(ql_->QL_ReadNotTimeOut(handle, buffer, sizeof buffer, &count), 0u) << "purged";
  EXPECT_EQ(count, 0u);
}

TEST_F(Zizuz, WritesAsMuchAsTheWriteTimeoutAllows) {
  dir_.Link(MakerEntry("7"), device_.TtyPath());
  const uint32_t handle = Open(0, "7");
  ASSERT_NE(handle, 0u);
  ASSERT_EQ(ql_->QL_SetTimeouts(handle, 30, 30), 0u);
  const std::string request = "FL_READ_VERSION$";
  uint32_t written = 0;
  EXPECT_EQ(ql_->QL_Write(handle, request.data(), static_cast<uint32_t>(request.size()), &written),
            0u);
  EXPECT_EQ(written, request.size());
  EXPECT_EQ(device_.Receive(request.size()), request);

  // The device reads nothing more: the tty's buffer fills and the write stops at its time-out.
  const std::vector<uint8_t> flood(1 << 20, 0x55);
  EXPECT_NE(ql_->QL_Write(handle, flood.data(), static_cast<uint32_t>(flood.size()), &written), 0u);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, flood.size());
}

TEST_F(Zizuz, AVanishedTtyFailsReadsAndWrites) {
  dir_.Link(MakerEntry("7"), device_.TtyPath());
  const uint32_t handle = Open(0, "7");
  ASSERT_NE(handle, 0u);
  ASSERT_EQ(ql_->QL_SetTimeouts(handle, 5000, 5000), 0u);
  device_.Hangup();
  char buffer[16];
  uint32_t count = 99;
  EXPECT_EQ(ql_->QL_ReadNotTimeOut(handle, buffer, sizeof buffer, &count), 4u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(ql_->QL_Write(handle, "x", 1, &count), 4u);
  EXPECT_EQ(count, 0u);
}

}  // namespace
}  // namespace updater
