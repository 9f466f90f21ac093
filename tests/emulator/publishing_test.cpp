// Where trackers appear and disappear, what the dump files hold, and the command line.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "SimTestClient.h"

namespace simtest {
namespace {

namespace fs = std::filesystem;
using updater::sim::TrackerMode;

TEST_F(HostTest, MakersKindIsALinkToItsTerminal) {
  const std::string serial = AddTracker("serial=123456789");
  ASSERT_TRUE(host_->WaitPlugged(serial, TrackerMode::BootLoader));
  const std::string entry = dir_ + "/by-id/usb-Veltorium_Tracker_123456789-if00";
  EXPECT_EQ(host_->Status(serial).entryPath, entry);
  ASSERT_TRUE(IsSymlink(entry));
  EXPECT_EQ(LinkTarget(entry), host_->Status(serial).slavePath);
  EXPECT_EQ(LinkTarget(entry).rfind("/dev/pts/", 0), 0u);

  ASSERT_TRUE(host_->Unplug(serial));
  EXPECT_FALSE(fs::exists(fs::symlink_status(entry)));
  ASSERT_TRUE(host_->Plug(serial));
  EXPECT_TRUE(IsSymlink(entry));
}

TEST_F(HostTest, FtdiKindHasDescriptionAndSocket) {
  const std::string serial = AddTracker("serial=2001,driver=ftdi,desc=Veltorium VT-2");
  ASSERT_TRUE(host_->WaitPlugged(serial, TrackerMode::BootLoader));
  const std::string link = dir_ + "/ftdi/2001";
  EXPECT_EQ(fs::symlink_status(link).type(), fs::file_type::socket) << "not a tty, not a link";
  EXPECT_EQ(host_->Status(serial).slavePath, link);
  EXPECT_EQ(ReadFile(link + ".desc"), "Veltorium VT-2");
  EXPECT_FALSE(fs::exists(dir_ + "/by-id/usb-Veltorium_Tracker_2001-if00"));
  Client client(link);
  EXPECT_EQ(client.Exchange(Request(10)).code(), 128);

  ASSERT_TRUE(host_->Unplug(serial));
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_FALSE(fs::exists(link + ".desc"));
  // Only our own entries were created in the directory.
  EXPECT_TRUE(fs::is_empty(dir_ + "/ftdi"));
}

TEST_F(HostTest, StopWithdrawsEverything) {
  AddTracker("serial=31");
  AddTracker("serial=32,driver=ftdi");
  ASSERT_TRUE(host_->WaitPlugged("31", TrackerMode::BootLoader));
  ASSERT_TRUE(host_->WaitPlugged("32", TrackerMode::BootLoader));
  host_->Stop();
  EXPECT_TRUE(fs::is_empty(dir_ + "/by-id"));
  EXPECT_TRUE(fs::is_empty(dir_ + "/ftdi"));
  EXPECT_FALSE(host_->Add(Config("serial=31"))) << "serial numbers are unique";
}

TEST_F(HostTest, DumpHoldsFlashAndRequestLog) {
  const std::string serial = AddTracker("serial=9001,cpu=0x400FE000");
  auto client = Connect(serial);
  const uint32_t address = 0x4400 + 3 * 512;
  ASSERT_EQ(client->Exchange(Request(6, 3, address)).code(), 128);
  const Bytes write = WriteRequest(3, address, 0x40);
  ASSERT_EQ(client->Exchange(write).code(), 128);
  ASSERT_EQ(client->Exchange(Request(11)).code(), 128);

  const std::string out = dir_ + "/dump";
  ASSERT_TRUE(host_->Dump(serial, out));
  const std::string flash = ReadFile(out + "/9001.flash");
  ASSERT_EQ(flash.size(), 0x4400u + 256 * 512);
  EXPECT_EQ(Bytes(flash.begin() + address, flash.begin() + address + 512),
            Bytes(write.begin() + 14, write.end()));
  EXPECT_EQ(static_cast<uint8_t>(flash[address - 1]), 0xFF);
  EXPECT_EQ(static_cast<uint8_t>(flash[address + 512]), 0xFF);

  const std::string log = ReadFile(out + "/9001.log");
  EXPECT_NE(log.find("frame 1 code=6 sector=3 address=0x4A00 length=14 result=128"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("frame 2 code=7 sector=3 address=0x4A00 length=526 result=128"),
            std::string::npos);
  EXPECT_NE(log.find("frame 3 code=11"), std::string::npos);
  EXPECT_NE(log.find("finish success"), std::string::npos);
}

// Runs tracker-sim with the given arguments; stdin is a pipe the test writes commands into.
struct SimProcess {
  pid_t pid = -1;
  int input = -1;

  explicit SimProcess(const std::vector<std::string>& args, const std::string& outFile) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    pid = fork();
    if (pid == 0) {
      dup2(fds[0], 0);
      int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(out, 2);
      std::vector<char*> argv{const_cast<char*>(TRACKER_SIM_PATH)};
      for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
      }
      argv.push_back(nullptr);
      execv(TRACKER_SIM_PATH, argv.data());
      _exit(127);
    }
    close(fds[0]);
    input = fds[1];
  }
  void Say(const std::string& line) {
    EXPECT_EQ(write(input, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  }
  int Wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    close(input);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

bool WaitForPath(const std::string& path, bool present) {
  for (int i = 0; i < 500; ++i) {
    if (fs::exists(fs::symlink_status(path)) == present) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class TrackerSimCommand : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }
  void TearDown() override { RemoveTree(dir_); }
  std::string dir_;
};

TEST_F(TrackerSimCommand, ServesUnplugsDumpsAndQuits) {
  SimProcess sim({"--zizuz-dir", dir_ + "/z", "--ftdi-dir", dir_ + "/f", "--dump-dir", dir_ + "/d",
                  "--tracker", "serial=1001,mode=firmware", "--tracker", "serial=1002,driver=ftdi"},
                 dir_ + "/out.txt");
  const std::string entry = dir_ + "/z/usb-Veltorium_Tracker_1001-if00";
  ASSERT_TRUE(WaitForPath(entry, true));
  ASSERT_TRUE(WaitForPath(dir_ + "/f/1002", true));
  {
    Client client(entry);
    ASSERT_TRUE(client.Send(Text("FL_READ_VERSION$")));
    EXPECT_EQ(client.ReadText(), Text("ROZI-1.15"));
  }
  {
    Client ftdi(dir_ + "/f/1002");
    ASSERT_TRUE(ftdi.IsOpen()) << "the FTDI kind is a socket file to connect to";
    EXPECT_EQ(ftdi.Exchange(Request(10)).code(), 128);
  }
  sim.Say("unplug 1001\n");
  EXPECT_TRUE(WaitForPath(entry, false));
  sim.Say("quit\n");
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ + "/f/1002")));
  EXPECT_TRUE(fs::exists(dir_ + "/d/1001.flash"));
  EXPECT_TRUE(fs::exists(dir_ + "/d/1002.log"));
  const std::string out = ReadFile(dir_ + "/out.txt");
  EXPECT_NE(out.find("published 1001 firmware " + entry), std::string::npos) << out;
  EXPECT_NE(out.find("request 1001 text FL_READ_VERSION$"), std::string::npos) << out;
  EXPECT_NE(out.find("withdrawn 1001"), std::string::npos) << out;
}

TEST_F(TrackerSimCommand, EndsOnSigtermWithdrawingEntries) {
  SimProcess sim({"--zizuz-dir", dir_ + "/z", "--dump-dir", dir_ + "/d", "--tracker", "serial=55"},
                 dir_ + "/out.txt");
  const std::string entry = dir_ + "/z/usb-Veltorium_Tracker_55-if00";
  ASSERT_TRUE(WaitForPath(entry, true));
  kill(sim.pid, SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(entry)));
}

class TrackerSimBadSpec : public TrackerSimCommand,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(TrackerSimBadSpec, IsRejectedWithExitCode2) {
  SimProcess sim({"--zizuz-dir", dir_ + "/z", "--tracker", GetParam()}, dir_ + "/out.txt");
  EXPECT_EQ(sim.Wait(), 2);
  EXPECT_NE(ReadFile(dir_ + "/out.txt").find("tracker-sim:"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ + "/z"));
}

INSTANTIATE_TEST_SUITE_P(Specs, TrackerSimBadSpec,
                         ::testing::Values("mode=boot", "serial=12a", "serial=1,driver=usb",
                                           "serial=1,cpu=0x100000000", "serial=1,drop=0",
                                           "serial=1,duplicate=0", "serial=1,truncate=3",
                                           "serial=1,protect=", "serial=1,locked=yes",
                                           "serial=1,colour=red", "serial=1,start=maybe",
                                           "serial=1,preload=/nonexistent"));

}  // namespace
}  // namespace simtest
