// The scan cycle over scripted libraries: listing rules, matching against the known devices,
// and the failures that spoil or shorten a cycle.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "fake_libraries.h"
#include "scan_rig.h"

namespace discovery_test {
namespace {

using updater::TDevEntry;

const Line kDriverError = {1, 0, "Ошибка в драйвере"};

std::unique_ptr<TDevEntry> Known(const char* serial) {
  return std::make_unique<TDevEntry>(serial, 0, 1);
}

TEST(ScanCycle, OpenFailureSpoilsTheCycleAndSparesLaterDevicesTheStart) {
  ScriptedQl ql;
  ql.devices.push_back({.serial = "5", .openable = false});
  ql.devices.push_back({.serial = "6", .replies = {{}, {'R', 'O', 'Z', 'I', '-', '1', '.', '2'}}});
  ScanRig rig(nullptr, &ql.Table());
  const ScanOutcome outcome = rig.Run();
  EXPECT_EQ(outcome.ErrorCode, 7);
  EXPECT_EQ(outcome.LastReply, 0);
  EXPECT_EQ(ql.devices[0].seen, (std::vector<std::string>{"open"}));
  EXPECT_EQ(ql.devices[1].seen,
            (std::vector<std::string>{"open", "F4", "FL_READ_VERSION$", "close"}));
  EXPECT_TRUE(outcome.Lines.empty());
  ASSERT_EQ(outcome.NewDevices.size(), 2u);
  EXPECT_FALSE(outcome.NewDevices[1]->BootStarted);
}

TEST(ScanCycle, KnownDevicesAreNotIdentifiedAgainAndGoneOnesAreMarked) {
  ScriptedQl ql;
  ql.devices.push_back({.serial = "11"});
  ScanRig rig(nullptr, &ql.Table());
  rig.DevList.push_back(Known("11"));
  rig.DevList.push_back(Known("12"));
  rig.DevList[0]->Removed = true;  // left by an earlier spoiled cycle

  const ScanOutcome outcome = rig.Run();
  EXPECT_EQ(outcome.ErrorCode, 0);
  EXPECT_TRUE(outcome.NewDevices.empty()) << "the duplicate of a known device is dropped";
  EXPECT_TRUE(ql.devices[0].seen.empty()) << "a known device is not opened again";
  EXPECT_FALSE(rig.DevList[0]->Removed) << "a device listed again is not gone";
  EXPECT_TRUE(rig.DevList[1]->Removed);
  EXPECT_TRUE(rig.DevList[1]->Unplugged) << "a job on a gone device is told to stop";
  EXPECT_FALSE(rig.DevList[0]->Unplugged);
  EXPECT_TRUE(outcome.Lines.empty());
}

TEST(ScanCycle, MakersListFailureIsLoggedAndListsNothing) {
  ScriptedQl ql;
  ql.devices.push_back({.serial = "11"});
  ql.listStatus = 4;
  ScanRig rig(nullptr, &ql.Table());
  const ScanOutcome outcome = rig.Run();
  EXPECT_EQ(outcome.Lines, std::vector<Line>{kDriverError});
  EXPECT_TRUE(outcome.NewDevices.empty());
  EXPECT_EQ(ql.listCalls, 1);
}

TEST(ScanCycle, MakersListIsReadOnlyAsFarAsItsBuffer) {
  ScriptedQl ql;
  for (const char* serial : {"1", "2", "3", "4", "5"}) {
    ql.devices.push_back({.serial = serial, .listCode = 0x0102});
  }
  ql.countOverride = 3;  // counted 3, then reports 5 while filling a buffer for 3
  ScanRig rig(nullptr, &ql.Table());
  const ScanOutcome outcome = rig.Run();
  ASSERT_EQ(outcome.NewDevices.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(outcome.NewDevices[i]->Serial, static_cast<int32_t>(i + 1));
    EXPECT_EQ(outcome.NewDevices[i]->ListCode, 0x0102);
    EXPECT_EQ(outcome.NewDevices[i]->Driver, 1u);
  }
}

TEST(ScanCycle, NoDeviceMeansNoLineAndNoError) {
  ScriptedQl ql;
  ScriptedFtdi ftdi;
  ScanRig rig(&ftdi.Table(), &ql.Table());
  const ScanOutcome outcome = rig.Run();
  EXPECT_EQ(outcome.ErrorCode, 0);
  EXPECT_TRUE(outcome.Lines.empty());
  EXPECT_TRUE(outcome.NewDevices.empty());
  EXPECT_EQ(ftdi.createCalls, 1);
}

TEST(ScanCycle, ExceptionInAStepIsLoggedAndTheCycleGoesOn) {
  ScriptedQl ql;
  ql.devices.push_back({.serial = "11"});
  ql.onList = [] { throw std::runtime_error("list broke"); };
  ScanRig rig(nullptr, &ql.Table());
  rig.DevList.push_back(Known("12"));
  const ScanOutcome outcome = rig.Run();
  const std::vector<Line> expected = {{1, 0, "Исключение \"list broke\" при поиске устройств"}};
  EXPECT_EQ(outcome.Lines, expected);
  EXPECT_TRUE(outcome.NewDevices.empty());
  EXPECT_TRUE(rig.DevList[0]->Removed) << "matching still runs after a failed listing";
  EXPECT_EQ(outcome.ErrorCode, 0);
}

TEST(ScanCycle, FtdiEmptyDescriptionIsRetriedFiftyTimesThenNothingIsListed) {
  ScriptedFtdi ftdi;
  ftdi.nodes = {{"123", "Veltorium"}, {"", ""}};  // the second is still held by the system
  std::vector<uint32_t> sleeps;
  ScanRig rig(&ftdi.Table(), nullptr, RecordingClock(&sleeps));
  const ScanOutcome outcome = rig.Run();
  EXPECT_EQ(ftdi.createCalls, 50);
  EXPECT_EQ(sleeps, std::vector<uint32_t>(49, 100));
  EXPECT_TRUE(outcome.NewDevices.empty());
  EXPECT_TRUE(outcome.Lines.empty());
}

// The kernel's serial driver holds every FTDI chip on Linux: the vendor's library lists such a
// node as opened with no description, and it stays so. It is left out at once, without the
// retries, and told about once while it stays; a tracker flagged as opened (by a job of ours)
// still has its description and is listed.
TEST(ScanCycle, FtdiNodeHeldByAnotherDriverIsLeftOutAndToldOnce) {
  const auto held_line = [](const std::string& name) {
    return Line{0, 0,
                "Устройство FTDI (" + name +
                    ") занято другим драйвером (обычно ftdi_sio) и пропущено. Если это прибор, "
                    "освободите его: установите правила udev из пакета программы или выполните "
                    "sudo rmmod ftdi_sio"};
  };
  const ScriptedFtdi::Node adapter = {.flags = 1, .locId = 0x2113};
  ScriptedFtdi ftdi;
  ftdi.nodes = {adapter,
                {"123", "Veltorium"},
                {.serial = "FT9A", .flags = 1},
                {.serial = "124", .description = "Veltorium", .flags = 1}};
  std::vector<uint32_t> sleeps;
  ScanRig rig(&ftdi.Table(), nullptr, RecordingClock(&sleeps));

  const ScanOutcome first = rig.Run();
  EXPECT_EQ(ftdi.createCalls, 1);
  EXPECT_TRUE(sleeps.empty()) << "a held node is not waited for";
  ASSERT_EQ(first.NewDevices.size(), 2u);
  EXPECT_EQ(first.NewDevices[0]->Serial, 123);
  EXPECT_EQ(first.NewDevices[1]->Serial, 124);
  EXPECT_EQ(first.Lines, (std::vector<Line>{held_line("номер 1 в списке, расположение 0x2113"),
                                            held_line("номер 3 в списке, серийный номер FT9A")}));

  EXPECT_TRUE(rig.Run().Lines.empty()) << "told once, not at every scan";

  ftdi.nodes.erase(ftdi.nodes.begin());  // the adapter is unplugged...
  EXPECT_TRUE(rig.Run().Lines.empty());
  ftdi.nodes.push_back(adapter);  // ...and plugged back, now listed last
  EXPECT_EQ(rig.Run().Lines, std::vector<Line>{held_line("номер 4 в списке, расположение 0x2113")});
  EXPECT_EQ(ftdi.createCalls, 4);

  // A node still being set up (not flagged) beside a held one still brings the retries.
  ftdi.nodes.push_back({"125", ""});
  sleeps.clear();
  EXPECT_TRUE(rig.Run().NewDevices.empty());
  EXPECT_EQ(sleeps, std::vector<uint32_t>(49, 100));
}

TEST(ScanCycle, FtdiDescriptionMustBeExactlyTheMakersName) {
  ScriptedFtdi ftdi;
  ftdi.nodes = {{"1", "veltorium"},  {"2", "Veltorium "}, {"3", "Veltorium"},
                {"4", "Veltorium2"}, {"5", "XVeltorium"}, {"6", std::string(64, 'V')},
                {"7", "Veltorium"}};
  ScanRig rig(&ftdi.Table(), nullptr);
  const ScanOutcome outcome = rig.Run();
  ASSERT_EQ(outcome.NewDevices.size(), 2u);
  EXPECT_EQ(outcome.NewDevices[0]->Serial, 3);
  EXPECT_EQ(outcome.NewDevices[1]->Serial, 7);
  EXPECT_EQ(outcome.NewDevices[0]->ListCode, 0xFFFF);
  EXPECT_EQ(outcome.NewDevices[0]->Driver, 0u);
  EXPECT_EQ(outcome.ErrorCode, 7) << "the scripted vendor library opens nothing";
}

TEST(ScanCycle, FtdiListFailuresAreLogged) {
  for (const bool create_fails : {true, false}) {
    ScriptedFtdi ftdi;
    ftdi.nodes = {{"3", "Veltorium"}};
    (create_fails ? ftdi.createStatus : ftdi.getStatus) = 4;
    ScanRig rig(&ftdi.Table(), nullptr);
    const ScanOutcome outcome = rig.Run();
    EXPECT_EQ(outcome.Lines, std::vector<Line>{kDriverError}) << create_fails;
    EXPECT_TRUE(outcome.NewDevices.empty());
    EXPECT_EQ(ftdi.createCalls, 1);
  }
}

}  // namespace
}  // namespace discovery_test
