// The reports a folder holds: which are unseen, marking them, keeping the newest.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "CrashReport.h"

namespace updater::crash {

namespace {

namespace fs = std::filesystem;

bool IsReportName(const std::string& name) {
  const std::string prefix = kReportPrefix;
  const std::string suffix = kReportSuffix;
  return name.size() > prefix.size() + suffix.size() &&
         name.compare(0, prefix.size(), prefix) == 0 &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Report paths in folder, oldest first: their names carry the time, most significant first.
std::vector<std::string> Reports(const std::string& folder) {
  std::vector<std::string> paths;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (IsReportName(name) && it->is_regular_file(error)) {
      paths.push_back(it->path().string());
    }
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::string MarkerOf(const std::string& report) {
  return report + kSeenSuffix;
}

// The "program: " line of a report's header.
std::string ProgramOf(const std::string& report) {
  std::ifstream file(report);
  std::string line;
  for (int i = 0; i < 4 && std::getline(file, line); ++i) {
    if (line.rfind("program: ", 0) == 0) {
      return line.substr(9);
    }
  }
  return {};
}

}  // namespace

std::vector<std::string> UnseenReports(const std::string& folder, const std::string& program) {
  std::vector<std::string> unseen;
  for (const std::string& report : Reports(folder)) {
    std::error_code error;
    if (!fs::exists(MarkerOf(report), error) && ProgramOf(report) == program) {
      unseen.push_back(report);
    }
  }
  return unseen;
}

bool MarkSeen(const std::string& report_path) {
  std::ofstream marker(MarkerOf(report_path));
  return static_cast<bool>(marker);
}

void PruneReports(const std::string& folder, int keep) {
  const std::vector<std::string> reports = Reports(folder);
  const auto excess = static_cast<std::ptrdiff_t>(reports.size()) - std::max(keep, 0);
  for (std::ptrdiff_t i = 0; i < excess; ++i) {
    std::error_code error;
    fs::remove(reports[static_cast<std::size_t>(i)], error);
    fs::remove(MarkerOf(reports[static_cast<std::size_t>(i)]), error);
  }
}

int PrintUnseenReports(const std::string& folder, const std::string& program, std::FILE* out) {
  int count = 0;
  for (const std::string& report : UnseenReports(folder, program)) {
    std::fprintf(out, "crash report: %s\n", report.c_str());
    MarkSeen(report);
    ++count;
  }
  std::fflush(out);
  return count;
}

}  // namespace updater::crash
