// The station through its command line: list, flashing several trackers with the report,
// watch mode, exit codes, the time-left estimate, a killed station's report, signals, and the
// tracker that spoils the scan.

#include <gtest/gtest.h>
#include <signal.h>

#include <QCryptographicHash>
#include <QSysInfo>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <set>

#include "BootFrame.h"
#include "EmbeddedImage.h"
#include "TrackerDump.h"
#include "child_signal.h"
#include "station_rig.h"

namespace station_test {
namespace {

using updater::sim::FinishState;

constexpr char kSuccessText[] = "Обновление прошивки завершено успешно";

int Int(const QJsonObject& event, const char* key) {
  return event[QLatin1String(key)].toInt();
}

std::string Str(const QJsonObject& event, const char* key) {
  return event[QLatin1String(key)].toString().toStdString();
}

// Sectors the tracker was asked to erase.
int ErasedSectors(const StationRig& rig, const std::string& serial) {
  std::set<int> sectors;
  for (const auto& request : const_cast<StationRig&>(rig).Host().Requests(serial)) {
    if (request.code == updater::kBootEraseNew || request.code == updater::kBootEraseOld) {
      sectors.insert(request.sector);
    }
  }
  return static_cast<int>(sectors.size());
}

// The job's requests the tracker received again right after themselves. A loaded machine can
// delay a reply past its time-out, and the job then sends the request again. Queries are the
// scan's: a scan whose query went unanswered in time asks again in the next one, which is no
// retry of the job's.
int RepeatedRequests(const StationRig& rig, const std::string& serial, std::string* which) {
  int repeated = 0;
  const auto requests = const_cast<StationRig&>(rig).Host().Requests(serial);
  for (size_t i = 1; i < requests.size(); ++i) {
    const uint16_t code = requests[i].code;
    const bool query = code == updater::kBootQueryFirmware ||
                       code == updater::kBootQueryBootVersion ||
                       code == updater::kBootQueryProcessor;
    if (requests[i].frameNumber != 0 && !query && requests[i].raw == requests[i - 1].raw) {
      ++repeated;
      *which += "\n  " + updater::sim::RequestSummary(requests[i]);
    }
  }
  return repeated;
}

std::string EmbeddedChecksum() {
  const std::vector<uint8_t> image = updater::ReadEmbeddedImage().value();
  return QCryptographicHash::hash(QByteArray(reinterpret_cast<const char*>(image.data()),
                                             static_cast<qsizetype>(image.size())),
                                  QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

// What a terminal of a given width shows for the station's bytes (through the pseudo-terminal,
// so with CR LF line ends), with the few controls the live view uses. A character written past
// the last column is counted as a wrap: a wrapped line breaks the count of lines to redraw.
struct Screen {
  explicit Screen(int width) : columns(static_cast<size_t>(width)) { lines.emplace_back(); }

  void Feed(const std::string& bytes) {
    const std::u32string text = QString::fromStdString(bytes).toStdU32String();
    for (size_t i = 0; i < text.size(); ++i) {
      const char32_t c = text[i];
      if (c == U'\x1b' && i + 1 < text.size() && text[i + 1] == U'[') {
        size_t end = i + 2;
        std::string params;
        while (end < text.size() &&
               ((text[end] >= U'0' && text[end] <= U'9') || text[end] == U';')) {
          params += static_cast<char>(text[end++]);
        }
        if (end == text.size()) {
          unknown += "truncated;";
          break;
        }
        const int n = params.empty() ? 0 : std::stoi(params);
        switch (text[end]) {
          case U'A':  // up n lines
            ups += 1;
            above += static_cast<size_t>(std::max(n, 1)) > row ? 1 : 0;
            row -= std::min(row, static_cast<size_t>(std::max(n, 1)));
            break;
          case U'K':  // 2K: the whole line
            lines[row].clear();
            break;
          case U'J':  // from the cursor to the end of the screen
            lines[row].resize(std::min(lines[row].size(), col));
            lines.resize(row + 1);
            break;
          default:
            unknown += static_cast<char>(text[end]);
        }
        i = end;
      } else if (c == U'\r') {
        col = 0;
      } else if (c == U'\n') {
        shown.insert(Text(lines[row]));
        if (++row == lines.size()) {
          lines.emplace_back();
        }
      } else if (c >= U' ') {
        if (col >= columns) {
          ++wraps;
        }
        std::u32string& line = lines[row];
        if (line.size() < col) {
          line.resize(col, U' ');
        }
        if (line.size() == col) {
          line.push_back(c);
        } else {
          line[col] = c;
        }
        ++col;
      }
    }
  }

  // The lines left on the screen and above it, without the empty ones at the end.
  std::vector<std::string> Final() const {
    std::vector<std::string> out;
    for (const std::u32string& line : lines) {
      out.push_back(Text(line));
    }
    while (!out.empty() && out.back().empty()) {
      out.pop_back();
    }
    return out;
  }

  static std::string Text(const std::u32string& line) {
    return QString::fromUcs4(line.data(), static_cast<qsizetype>(line.size())).toStdString();
  }

  size_t columns;
  std::vector<std::u32string> lines;  // from the first line written
  size_t row = 0;
  size_t col = 0;
  int wraps = 0;
  int ups = 0;                  // moves up: redraws in place
  int above = 0;                // moves up past the first line written
  std::string unknown;          // controls this model does not know
  std::set<std::string> shown;  // every line as it stood when the cursor left it
};

TEST(Station, ListsEveryTrackerAndSendsARunningOneIntoItsBootLoader) {
  StationRig rig(/*replug_ms=*/600000);
  rig.Add("serial=3001,driver=ftdi,mode=boot,boot=BOOT-1.07");
  rig.Add("serial=3002,driver=ql,mode=firmware,fw=ROZI-1.12");
  // Its slow replies keep the scan busy while 3002 leaves for its boot loader: the scan that
  // leaving brings then ends before the list is printed.
  rig.Add("serial=3003,driver=ql,mode=boot,cpu=0x400FE000,delay=60");

  const Finished run = rig.Run({"list", "--json"});
  ASSERT_EQ(run.code, 0) << run.err << run.out;
  const std::vector<QJsonObject> found = Events(run.events, "found");
  ASSERT_EQ(found.size(), 3u) << run.out;
  struct Row {
    int serial;
    const char* driver;
    const char* mode;
    const char* firmware;
    const char* processor;
    bool replug;
  };
  const Row rows[] = {{3001, "ftdi", "boot", "ROZI-1.15", "0x26013F37", false},
                      {3002, "ql", "firmware", "ROZI-1.12", "0x00000000", true},
                      {3003, "ql", "boot", "ROZI-1.15", "0x400FE000", false}};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(rows[i].serial);
    EXPECT_EQ(Int(found[i], "serial"), rows[i].serial);
    EXPECT_EQ(Str(found[i], "driver"), rows[i].driver);
    EXPECT_EQ(Str(found[i], "mode"), rows[i].mode);
    EXPECT_EQ(Str(found[i], "firmware"), rows[i].firmware);
    EXPECT_EQ(Str(found[i], "processor"), rows[i].processor);
    EXPECT_EQ(found[i][QStringLiteral("waits_replug")].toBool(), rows[i].replug);
  }
  EXPECT_EQ(Str(found[0], "boot_loader"), "BOOT-1.7");
  EXPECT_EQ(Str(found[1], "boot_loader"), "");
  // The scan's own identification: the running tracker was told to start its boot loader, and
  // nothing was written to any of them.
  EXPECT_TRUE(rig.Host().WaitUntil(
      "3002", [](const auto& s) { return s.mode == updater::sim::TrackerMode::BootLoader; },
      std::chrono::seconds(30)));
  EXPECT_EQ(ErasedSectors(rig, "3001"), 0);
  EXPECT_TRUE(Events(run.events, "start").empty());

  // Without --json: one plain line per tracker.
  const Finished plain = rig.Run({"list"});
  ASSERT_EQ(plain.code, 0) << plain.err;
  EXPECT_NE(plain.out.find("3001  ftdi  boot"), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find("3003  ql    boot"), std::string::npos) << plain.out;
}

TEST(Station, FlashesFourAtOnceAndReportsEachJobFieldByField) {
  StationRig rig(/*replug_ms=*/1000);
  rig.Add("serial=4001,driver=ftdi,mode=boot");
  rig.Add("serial=4002,driver=ftdi,mode=boot,boot=BOOT-1.07");
  rig.Add("serial=4003,driver=ql,mode=firmware,fw=ROZI-1.12");
  rig.Add("serial=4004,driver=ql,mode=boot,cpu=0x400FE000");
  const std::string report = rig.Dir() + "/report, \"line 3\".csv";

  const Finished run = rig.Run({"flash", "--json", "--report", QString::fromStdString(report)});
  ASSERT_EQ(run.code, 0) << run.err << run.out;
  for (const char* serial : {"4001", "4002", "4003", "4004"}) {
    EXPECT_EQ(rig.Host().Status(serial).finish, FinishState::Succeeded) << serial;
  }
  const std::vector<QJsonObject> starts = Events(run.events, "start");
  ASSERT_EQ(starts.size(), 4u) << run.out;
  ASSERT_EQ(Events(run.events, "mode", 4003).size(), 1u) << run.out;
  const std::vector<QJsonObject> summary = Events(run.events, "summary");
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_EQ(Int(summary[0], "flashed"), 4);
  EXPECT_EQ(Int(summary[0], "exit_code"), 0);

  bool complete = false;
  const auto rows = ReadCsv(report, &complete);
  ASSERT_TRUE(complete);
  ASSERT_EQ(rows.size(), 5u);
  const std::vector<std::string> header = {"time",        "host",           "serial",
                                           "driver",      "processor",      "firmware_before",
                                           "boot_loader", "image_version",  "image_checksum",
                                           "result_code", "result_text",    "duration_ms",
                                           "retries",     "sectors_erased", "sectors_written"};
  EXPECT_EQ(rows[0], header);
  struct Expect {
    const char* driver;
    const char* processor;
    const char* before;
    const char* loader;
  };
  const std::map<std::string, Expect> expected = {
      {"4001", {"ftdi", "0x26013F37", "ROZI-1.15", "BOOT-1.5"}},
      {"4002", {"ftdi", "0x26013F37", "ROZI-1.15", "BOOT-1.7"}},
      {"4003", {"ql", "0x26013F37", "ROZI-1.12", "BOOT-1.5"}},
      {"4004", {"ql", "0x400FE000", "ROZI-1.15", "BOOT-1.5"}}};
  std::set<std::string> serials;
  const std::string checksum = EmbeddedChecksum();
  for (size_t i = 1; i < rows.size(); ++i) {
    const auto& row = rows[i];
    ASSERT_EQ(row.size(), header.size());
    SCOPED_TRACE(row[2]);
    serials.insert(row[2]);
    const Expect& want = expected.at(row[2]);
    // Local time with its zone: 2024-05-01T12:00:00+02:00
    EXPECT_EQ(row[0].size(), 25u) << row[0];
    EXPECT_TRUE(row[0][19] == '+' || row[0][19] == '-') << row[0];
    EXPECT_EQ(row[1], QSysInfo::machineHostName().toStdString());
    EXPECT_EQ(row[3], want.driver);
    EXPECT_EQ(row[4], want.processor);
    EXPECT_EQ(row[5], want.before);
    EXPECT_EQ(row[6], want.loader);
    EXPECT_EQ(row[7], "ROZI-1.16");
    EXPECT_EQ(row[8], checksum);
    EXPECT_EQ(row[9], "0");
    EXPECT_EQ(row[10], kSuccessText);
    EXPECT_GT(std::stoi(row[11]), 0);
    // Each request the tracker saw twice is a retry. More retries than that only when the
    // tracker lost input: the station stalled between a request's parts (a loaded machine),
    // and the tracker forgot what it had (and may have taken the rest for noise).
    std::string which;
    const int repeated = RepeatedRequests(rig, row[2], &which);
    const int retries = std::stoi(row[12]);
    EXPECT_GE(retries, repeated) << "repeated:" << which;
    if (rig.Host().Status(row[2]).forgotten == 0) {
      EXPECT_EQ(retries, repeated) << "repeated:" << which;
    }
    const int erased = ErasedSectors(rig, row[2]);
    EXPECT_GT(erased, 0);
    EXPECT_EQ(row[13], std::to_string(erased));
    EXPECT_EQ(row[14], std::to_string(erased));
  }
  EXPECT_EQ(serials.size(), 4u);
}

TEST(Station, WatchFlashesEachPluggedTrackerOnceUntilSignalled) {
  StationRig rig(/*replug_ms=*/1000);
  rig.Add("serial=5001,driver=ql,mode=boot");
  std::unique_ptr<QProcess> station = rig.Start({"flash", "--watch", "--json"});
  std::vector<QJsonObject> seen;
  const auto done_of = [](int serial) {
    return [serial](const QJsonObject& e) {
      return e[QStringLiteral("event")] == QStringLiteral("done") &&
             e[QStringLiteral("serial")].toInt() == serial;
    };
  };
  ASSERT_TRUE(StationRig::WaitEvent(*station, seen, done_of(5001)));
  // Plugged in later, while the station watches: one in its firmware, one of the FTDI kind.
  rig.Add("serial=5002,driver=ql,mode=firmware");
  rig.Add("serial=5003,driver=ftdi,mode=boot");
  ASSERT_TRUE(StationRig::WaitEvent(*station, seen, done_of(5002)));
  ASSERT_TRUE(StationRig::WaitEvent(*station, seen, done_of(5003)));
  // A finished tracker plugged in again is seen, and not flashed again.
  ASSERT_TRUE(rig.Host().Unplug("5001"));
  ASSERT_TRUE(StationRig::WaitEvent(*station, seen, [](const QJsonObject& e) {
    return e[QStringLiteral("event")] == QStringLiteral("removed") &&
           e[QStringLiteral("serial")].toInt() == 5001;
  }));
  ASSERT_TRUE(rig.Host().Plug("5001"));
  ASSERT_TRUE(StationRig::WaitEvent(*station, seen, [](const QJsonObject&) { return true; }));
  ASSERT_TRUE(StationRig::WaitEvent(
      *station, seen, [&](const QJsonObject&) { return Events(seen, "found", 5001).size() == 2; }));
  // A tracker plugged after it shows that the station went on looking past the re-plug.
  rig.Add("serial=5004,driver=ql,mode=boot");
  ASSERT_TRUE(StationRig::WaitEvent(*station, seen, done_of(5004)));
  ASSERT_TRUE(test::SignalChild(*station, SIGTERM));
  const Finished run = StationRig::End(*station, seen);
  EXPECT_EQ(run.code, 0) << run.err << run.out;
  EXPECT_EQ(Events(run.events, "start", 5001).size(), 1u);
  const std::vector<QJsonObject> summary = Events(run.events, "summary");
  ASSERT_EQ(summary.size(), 1u) << run.out;
  EXPECT_EQ(Int(summary[0], "flashed"), 4);
  EXPECT_EQ(Int(summary[0], "failed"), 0);
}

TEST(Station, ExitCodes) {
  StationRig rig(/*replug_ms=*/600000);
  rig.Add("serial=6001,driver=ql,mode=boot");
  const std::string bad_image = rig.Dir() + "/bad.eraw";
  std::ofstream(bad_image) << "not an image at all";

  struct Case {
    const char* name;
    QStringList args;
    int code;
    const char* says;  // on stderr
  };
  const Case cases[] = {
      {"no command", {}, 2, "list or flash"},
      {"unknown option", {"flash", "--fast"}, 2, "fast"},
      {"again without watch", {"flash", "--again"}, 2, "--again needs --watch"},
      {"flash option on list", {"list", "--serial", "6001"}, 2, "belongs to flash"},
      {"bad serial", {"flash", "--serial", "x1"}, 2, "serial"},
      {"report folder missing",
       {"flash", "--report", QString::fromStdString(rig.Dir() + "/none/r.csv")},
       2,
       "report file cannot be written"},
      {"image fails its checks",
       {"flash", "--image", QString::fromStdString(bad_image)},
       3,
       "image cannot be loaded"},
      {"image missing",
       {"flash", "--image", QString::fromStdString(rig.Dir() + "/no.eraw")},
       3,
       "image cannot be loaded"},
      {"named tracker never appears", {"flash", "--serial", "6999", "--wait", "3"}, 4, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Finished run = rig.Run(c.args);
    EXPECT_EQ(run.code, c.code) << run.err << run.out;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
  }
  // None of these touched the tracker beyond the scan's questions.
  EXPECT_EQ(ErasedSectors(rig, "6001"), 0);
  EXPECT_EQ(rig.Host().Status("6001").finish, FinishState::None);

  // A job that fails: 1, and its code in the output.
  rig.Add("serial=6002,driver=ql,mode=boot,locked");
  const Finished failed = rig.Run({"flash", "--json", "--serial", "6002"});
  EXPECT_EQ(failed.code, 1) << failed.err << failed.out;
  const auto done = Events(failed.events, "done", 6002);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_NE(Int(done[0], "code"), 0);
  EXPECT_EQ(Str(done[0], "text"), "Прибор заблокирован");

  // One program at a time: a watching station holds the trackers; a second one says so.
  std::unique_ptr<QProcess> holder = rig.Start({"flash", "--watch", "--serial", "6001", "--json"});
  std::vector<QJsonObject> seen;
  ASSERT_TRUE(StationRig::WaitEvent(*holder, seen, [](const QJsonObject& e) {
    return e[QStringLiteral("event")] == QStringLiteral("done");
  }));
  const Finished second = rig.Run({"list"});
  EXPECT_EQ(second.code, 5) << second.err;
  EXPECT_NE(second.err.find("veltorium-station (pid " + std::to_string(holder->processId()) +
                            ") holds the trackers"),
            std::string::npos)
      << second.err;
  ASSERT_TRUE(test::SignalChild(*holder, SIGTERM));
  EXPECT_EQ(StationRig::End(*holder, seen).code, 0);
}

// Time left after the first quarter of a job is within 20 % of the time the job then really
// took, both measured by the job's own clock (its flash time), not by this test's.
TEST(Station, TimeLeftIsWithinAFifthOfTheTruthAfterTheFirstQuarter) {
  StationRig rig(/*replug_ms=*/600000);
  // A tracker that answers one request every 40 ms sets the job's pace, and makes up the
  // moments a loaded machine is late in asking, so that the truth is the tracker's.
  rig.Add("serial=7001,driver=ql,mode=boot,pace=40");
  const Finished run = rig.Run({"flash", "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  const auto done = Events(run.events, "done", 7001);
  ASSERT_EQ(done.size(), 1u);
  const double total = Int(done[0], "flash_ms");
  const auto progress = Events(run.events, "progress", 7001);
  ASSERT_FALSE(progress.empty());
  int checked = 0;
  for (const QJsonObject& p : progress) {
    const int requests = Int(p, "sectors_to_write") + Int(p, "parts_to_write");
    const int sent = Int(p, "sectors_erased") + Int(p, "parts_written");
    // From the first quarter on, while there is still a fair stretch to predict.
    if (sent * 4 < requests || sent * 4 > requests * 3) {
      continue;
    }
    const double at = Int(p, "flash_ms");
    const double truth = total - at;
    const double left = Int(p, "ms_left");
    EXPECT_LE(std::abs(left - truth), 0.2 * truth)
        << "at " << at << " ms of " << total << " ms: said " << left << " ms left";
    ++checked;
  }
  EXPECT_GT(checked, 10);
}

TEST(Station, AKilledStationLeavesWholeRowsAndTheNextOneAppends) {
  StationRig rig(/*replug_ms=*/600000);
  rig.Add("serial=8001,driver=ql,mode=boot");
  rig.Add("serial=8002,driver=ql,mode=boot,delay=40");
  rig.Add("serial=8003,driver=ftdi,mode=boot,delay=40");
  const std::string report = rig.Dir() + "/report.csv";
  std::unique_ptr<QProcess> station =
      rig.Start({"flash", "--json", "--report", QString::fromStdString(report)});
  std::vector<QJsonObject> seen;
  ASSERT_TRUE(StationRig::WaitEvent(*station, seen, [](const QJsonObject& e) {
    return e[QStringLiteral("event")] == QStringLiteral("done");
  }));
  station->kill();  // SIGKILL: no shutdown at all
  station->waitForFinished(60000);
  bool complete = false;
  auto rows = ReadCsv(report, &complete);
  EXPECT_TRUE(complete);
  ASSERT_EQ(rows.size(), 2u);  // the header and the one finished job
  EXPECT_EQ(rows[1][2], "8001");
  EXPECT_EQ(rows[1][9], "0");

  // The next station finishes the others into the same file; the earlier rows stay as they
  // were.
  const Finished next = rig.Run({"flash", "--report", QString::fromStdString(report), "--serial",
                                 "8002", "--serial", "8003"});
  EXPECT_EQ(next.code, 0) << next.err << next.out;
  rows = ReadCsv(report, &complete);
  EXPECT_TRUE(complete);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0][0], "time");
  EXPECT_EQ(rows[1][2], "8001");
  for (const auto& row : rows) {
    EXPECT_EQ(row.size(), 15u);
  }
}

// Two ways to lose a tracker mid-job: pulled out by hand (the host unplugs it while its job is
// under way) and gone on its own (the tracker's vanish switch, after a request well inside the
// write). Each gets its row saying so; the trackers beside them are flashed to the end.
TEST(Station, ATrackerThatVanishesMidJobHasItsRowAndTheOthersGoOn) {
  StationRig rig(/*replug_ms=*/600000);
  rig.Add("serial=9201,driver=ql,mode=boot,delay=30");
  rig.Add("serial=9202,driver=ftdi,mode=boot,vanish=40");
  rig.Add("serial=9203,driver=ql,mode=boot");
  rig.Add("serial=9204,driver=ftdi,mode=boot,delay=10");
  const std::string report = rig.Dir() + "/report.csv";
  std::unique_ptr<QProcess> station =
      rig.Start({"flash", "--json", "--report", QString::fromStdString(report)});
  std::vector<QJsonObject> seen;
  ASSERT_TRUE(StationRig::WaitEvent(*station, seen, [](const QJsonObject& e) {
    return e[QStringLiteral("event")] == QStringLiteral("progress") &&
           e[QStringLiteral("serial")].toInt() == 9201 && e[QStringLiteral("percent")].toInt() >= 5;
  }));
  ASSERT_TRUE(rig.Host().Unplug("9201"));
  const Finished run = StationRig::End(*station, seen);
  EXPECT_EQ(run.code, 1) << run.err << run.out;

  for (const char* serial : {"9201", "9202"}) {
    EXPECT_NE(rig.Host().Status(serial).finish, FinishState::Succeeded) << serial;
  }
  for (const char* serial : {"9203", "9204"}) {
    EXPECT_EQ(rig.Host().Status(serial).finish, FinishState::Succeeded) << serial;
  }
  const std::vector<QJsonObject> summary = Events(run.events, "summary");
  ASSERT_EQ(summary.size(), 1u) << run.out;
  EXPECT_EQ(Int(summary[0], "flashed"), 2);
  EXPECT_EQ(Int(summary[0], "failed"), 2);

  bool complete = false;
  const auto rows = ReadCsv(report, &complete);
  ASSERT_TRUE(complete);
  ASSERT_EQ(rows.size(), 5u);
  std::map<std::string, std::vector<std::string>> by_serial;
  for (size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 15u);
    by_serial[rows[i][2]] = rows[i];
  }
  ASSERT_EQ(by_serial.size(), 4u);
  for (const char* serial : {"9201", "9202"}) {
    SCOPED_TRACE(serial);
    const auto& row = by_serial[serial];
    const auto done = Events(run.events, "done", std::stoi(serial));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0][QStringLiteral("vanished")].toBool());
    EXPECT_EQ(row[9], std::to_string(Int(done[0], "code")));
    EXPECT_NE(row[9], "0");
    EXPECT_EQ(row[10], Str(done[0], "text"));
    EXPECT_NE(row[10].find("прибор пропал во время прошивки"), std::string::npos) << row[10];
    // It was written to when it went: the row counts what was done before.
    EXPECT_GT(std::stoi(row[13]), 0);
  }
  for (const char* serial : {"9203", "9204"}) {
    SCOPED_TRACE(serial);
    EXPECT_EQ(by_serial[serial][9], "0");
    EXPECT_EQ(by_serial[serial][10], kSuccessText);
  }
}

TEST(Station, ASignalLetsJobsFinishAndASecondStopsThem) {
  StationRig rig(/*replug_ms=*/600000);
  rig.Add("serial=9001,driver=ql,mode=boot,delay=30");
  rig.Add("serial=9002,driver=ftdi,mode=boot,delay=30");
  const std::string report = rig.Dir() + "/report.csv";
  const QStringList args = {"flash", "--watch", "--json", "--report",
                            QString::fromStdString(report)};
  const auto progressing = [](const QJsonObject& e) {
    return e[QStringLiteral("event")] == QStringLiteral("progress");
  };
  {
    std::unique_ptr<QProcess> station = rig.Start(args);
    std::vector<QJsonObject> seen;
    ASSERT_TRUE(StationRig::WaitEvent(*station, seen, progressing));
    ASSERT_TRUE(test::SignalChild(*station, SIGTERM));
    const Finished run = StationRig::End(*station, seen);
    EXPECT_EQ(run.code, 0) << run.err << run.out;
    EXPECT_EQ(rig.Host().Status("9001").finish, FinishState::Succeeded);
    EXPECT_EQ(rig.Host().Status("9002").finish, FinishState::Succeeded);
    EXPECT_EQ(ReadCsv(report).size(), 3u);
  }
  {
    std::unique_ptr<QProcess> station = rig.Start(args);
    std::vector<QJsonObject> seen;
    ASSERT_TRUE(StationRig::WaitEvent(*station, seen, progressing));
    ASSERT_TRUE(test::SignalChild(*station, SIGTERM));
    ASSERT_TRUE(StationRig::WaitEvent(*station, seen, [](const QJsonObject& e) {
      return e[QStringLiteral("event")] == QStringLiteral("note");
    }));
    ASSERT_TRUE(test::SignalChild(*station, SIGINT));
    const Finished run = StationRig::End(*station, seen);
    EXPECT_EQ(run.code, 1) << run.err << run.out;
    const auto rows = ReadCsv(report);
    ASSERT_EQ(rows.size(), 5u);
    // Both jobs were cut short, and each has its row.
    EXPECT_EQ(rows[3][9], "10");
    EXPECT_EQ(rows[4][9], "10");
  }
}

// Eight jobs at once, both kinds of tracker, when the signal comes (a run without --watch):
// one signal lets every job end as it would have; a second cuts the rest short. Either way
// every job ends, each has its whole row, and the exit code says whether one was cut short.
TEST(Station, SigtermDuringEightJobsWritesEveryRow) {
  struct Case {
    const char* name;
    int signal_count;
  };
  const Case cases[] = {{"one signal", 1}, {"two signals", 2}};
  int first = 9300;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StationRig rig(/*replug_ms=*/600000);
    std::vector<std::string> serials;
    for (int i = 1; i <= 8; ++i) {
      serials.push_back(std::to_string(first + i));
      rig.Add("serial=" + serials.back() + (i % 2 == 0 ? ",driver=ftdi" : ",driver=ql") +
              ",mode=boot,delay=30");
    }
    first += 10;
    const std::string report = rig.Dir() + "/report.csv";
    std::unique_ptr<QProcess> station =
        rig.Start({"flash", "--json", "--report", QString::fromStdString(report)});
    std::vector<QJsonObject> seen;
    // Every one of the eight under way.
    ASSERT_TRUE(StationRig::WaitEvent(*station, seen, [&](const QJsonObject&) {
      for (const std::string& serial : serials) {
        if (Events(seen, "progress", std::stoi(serial)).empty()) {
          return false;
        }
      }
      return true;
    }));
    ASSERT_TRUE(test::SignalChild(*station, SIGTERM));
    if (c.signal_count == 2) {
      ASSERT_TRUE(StationRig::WaitEvent(*station, seen, [](const QJsonObject& e) {
        return e[QStringLiteral("event")] == QStringLiteral("note");
      }));
      ASSERT_TRUE(test::SignalChild(*station, SIGTERM));
    }
    const Finished run = StationRig::End(*station, seen);

    bool complete = false;
    const auto rows = ReadCsv(report, &complete);
    ASSERT_TRUE(complete);
    ASSERT_EQ(rows.size(), 9u) << run.out;
    std::set<std::string> reported;
    int cut_short = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
      ASSERT_EQ(rows[i].size(), 15u);
      reported.insert(rows[i][2]);
      const auto done = Events(run.events, "done", std::stoi(rows[i][2]));
      ASSERT_EQ(done.size(), 1u) << rows[i][2];
      EXPECT_EQ(rows[i][9], std::to_string(Int(done[0], "code")));
      if (rows[i][9] == "0") {
        EXPECT_EQ(rig.Host().Status(rows[i][2]).finish, FinishState::Succeeded) << rows[i][2];
      } else {
        EXPECT_EQ(rows[i][9], "10") << rows[i][2];
        ++cut_short;
      }
    }
    EXPECT_EQ(reported, std::set<std::string>(serials.begin(), serials.end()));
    if (c.signal_count == 1) {
      EXPECT_EQ(cut_short, 0);
      EXPECT_EQ(run.code, 0) << run.err << run.out;
    } else {
      EXPECT_GT(cut_short, 0);
      EXPECT_EQ(run.code, 1) << run.err << run.out;
    }
    const std::vector<QJsonObject> summary = Events(run.events, "summary");
    ASSERT_EQ(summary.size(), 1u) << run.out;
    EXPECT_EQ(Int(summary[0], "flashed"), 8 - cut_short);
    EXPECT_EQ(Int(summary[0], "failed"), cut_short);
  }
}

// On a terminal: live lines redrawn in place, each finished tracker scrolled up as one line
// with its result, down to a terminal narrower than the aligned serial column and narrower
// than the serial itself. Serials start with distinct digits, so that even three columns tell
// them apart.
TEST(Station, LiveViewKeepsToTheTerminalsWidth) {
  struct Case {
    int columns;
    std::vector<std::string> done;  // how each tracker's result line starts
    bool live_serials;              // whether live lines show the whole serial
  };
  const Case cases[] = {
      {40, {"done 1401 OK code 0: ", "done 2402 OK code 0: ", "done 3403 FAILED code "}, true},
      {10, {"1401 OK", "2402 OK", "3403 E"}, true},
      {4, {"140", "240", "340"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.columns);
    StationRig rig(/*replug_ms=*/600000);
    rig.Add("serial=1401,driver=ql,mode=boot,delay=10");
    rig.Add("serial=2402,driver=ftdi,mode=boot,delay=10");
    rig.Add("serial=3403,driver=ql,mode=boot,locked");
    const Finished run = rig.RunOnTerminal({"flash"}, c.columns, 24);
    EXPECT_EQ(run.code, 1) << run.err << run.out;
    Screen screen(c.columns);
    screen.Feed(run.out);
    EXPECT_EQ(screen.wraps, 0) << run.out;
    EXPECT_EQ(screen.above, 0) << run.out;
    EXPECT_EQ(screen.unknown, "");
    EXPECT_GT(screen.ups, 0) << "the live lines were never redrawn";

    // What stays: a line for each tracker found, one with each result, and the summary; none
    // of the live lines is left behind.
    const std::vector<std::string> lines = screen.Final();
    std::string all;
    for (const std::string& line : lines) {
      all += line + "\n";
    }
    EXPECT_EQ(lines.size(), 7u) << all;
    for (const std::string& start : c.done) {
      EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                              [&](const std::string& line) { return line.rfind(start, 0) == 0; }),
                1)
          << start << " in\n"
          << all;
    }
    if (c.live_serials) {
      for (const std::string serial : {"1401", "2402"}) {
        EXPECT_TRUE(std::any_of(screen.shown.begin(), screen.shown.end(),
                                [&](const std::string& line) {
                                  return line.rfind(serial + " ", 0) == 0 &&
                                         line.rfind(serial + " OK", 0) != 0;
                                }))
            << serial;
      }
    }
  }
}

TEST(Station, NamesTheTrackerThatStopsTheScan) {
  StationRig rig(/*replug_ms=*/600000);
  rig.Add("serial=9101,driver=ql,mode=boot");
  rig.Add("serial=9102,driver=ql,mode=firmware,version=silent");
  const Finished run = rig.Run({"list", "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  const auto culprits = Events(run.events, "culprit");
  ASSERT_FALSE(culprits.empty()) << run.out;
  EXPECT_EQ(Int(culprits[0], "serial"), 9102);
  EXPECT_EQ(Str(culprits[0], "driver"), "ql");
  EXPECT_EQ(Int(culprits[0], "code"), 8);
  // The event log (the window's too) names it right after the cycle's own line.
  bool named = false;
  for (size_t i = 1; i < run.events.size(); ++i) {
    if (Str(run.events[i], "text").rfind("Поиск остановил прибор 9102: драйвер QL", 0) == 0) {
      named = Str(run.events[i - 1], "text").find("Ошибка 8 поиске") != std::string::npos;
    }
  }
  EXPECT_TRUE(named) << run.out;
}

}  // namespace
}  // namespace station_test
