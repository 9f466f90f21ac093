// The reports of a folder: which are unseen and whose, marking them, keeping the newest.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CrashReport.h"

namespace {

namespace fs = std::filesystem;
using updater::crash::MarkSeen;
using updater::crash::PrintUnseenReports;
using updater::crash::PruneReports;
using updater::crash::UnseenReports;

class CrashFilesTest : public testing::Test {
 protected:
  CrashFilesTest() {
    std::string pattern = (fs::temp_directory_path() / "crash-files-XXXXXX").string();
    folder_ = mkdtemp(pattern.data());
    folder_ += '/';
  }
  ~CrashFilesTest() override {
    std::error_code error;
    fs::remove_all(folder_, error);
  }
  std::string Report(const std::string& stamp, const std::string& program) {
    const std::string path = folder_ + "crash-" + stamp + ".txt";
    std::ofstream(path) << "Crash report\nprogram: " << program << "\nversion: 1.0\n";
    return path;
  }
  std::string folder_;
};

TEST_F(CrashFilesTest, UnseenReportsAreTheProgramsOwnOldestFirstUntilMarked) {
  const std::string later = Report("20240302-101010", "veltorium-updater");
  const std::string earlier = Report("20240301-235959", "veltorium-updater");
  Report("20240302-000000", "veltorium-station");
  std::ofstream(folder_ + "2024-03-02.log") << "not a report\n";

  EXPECT_EQ(UnseenReports(folder_, "veltorium-updater"),
            (std::vector<std::string>{earlier, later}));
  ASSERT_TRUE(MarkSeen(earlier));
  EXPECT_EQ(UnseenReports(folder_, "veltorium-updater"), std::vector<std::string>{later});
  EXPECT_TRUE(UnseenReports(folder_ + "missing/", "veltorium-updater").empty());
}

TEST_F(CrashFilesTest, PrintingNamesEachUnseenReportOnceAndMarksIt) {
  const std::string report = Report("20240302-101010", "veltorium-station");
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  EXPECT_EQ(PrintUnseenReports(folder_, "veltorium-station", out), 1);
  EXPECT_EQ(PrintUnseenReports(folder_, "veltorium-station", out), 0);
  std::fclose(out);
  EXPECT_EQ(std::string(text, size), "crash report: " + report + "\n");
  free(text);
}

TEST_F(CrashFilesTest, PruningKeepsTheNewestWithTheirMarkers) {
  std::vector<std::string> reports;
  for (int day = 10; day < 22; ++day) {
    reports.push_back(Report("202403" + std::to_string(day) + "-120000", "veltorium-updater"));
    MarkSeen(reports.back());
  }
  PruneReports(folder_, 10);
  for (size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(fs::exists(reports[i]), i >= 2) << reports[i];
    EXPECT_EQ(fs::exists(reports[i] + ".seen"), i >= 2) << reports[i];
  }
  EXPECT_TRUE(fs::exists(folder_));
}

}  // namespace
