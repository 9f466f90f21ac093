// A child program crashes on purpose; the report it leaves names the crash, its thread and the
// function that crashed, and carries the registers, modules, processes and the log's tail.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CrashReport.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct TTempFolder {
  TTempFolder() {
    std::string pattern = (fs::temp_directory_path() / "crash-test-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~TTempFolder() {
    std::error_code error;
    fs::remove_all(path, error);
  }
  std::string path;
};

struct TEnd {
  bool exited = false;
  int code = 0;    // exit code when exited
  int signal = 0;  // the signal that ended it otherwise
  bool hung = false;
};

// Runs the child to its end. It is given far longer than a report takes on a loaded machine; a
// child still running then has hung, which is what the fault-inside test is about.
TEnd RunChild(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string program = CRASH_CHILD;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& arg : copies) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  TEnd end;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    ADD_FAILURE() << "cannot start " << program;
    return end;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      end.hung = true;
      return end;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  end.exited = WIFEXITED(status);
  end.code = end.exited ? WEXITSTATUS(status) : 0;
  end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return end;
}

std::vector<std::string> ReportsIn(const std::string& folder) {
  std::vector<std::string> reports;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("crash-", 0) == 0) {
      reports.push_back(entry.path().string());
    }
  }
  return reports;
}

std::string ReadAll(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The report's section that starts with heading, up to the next empty line.
std::string Section(const std::string& report, const std::string& heading) {
  const auto start = report.find("\n" + heading + "\n");
  if (start == std::string::npos) {
    return {};
  }
  const auto body = start + heading.size() + 2;
  return report.substr(body, report.find("\n\n", body) - body);
}

struct TCrashCase {
  const char* mode;
  int signal;            // the signal the child must end with
  const char* cause;     // a line of the header
  const char* function;  // named in the stack (or the stack of the throw)
  bool main_thread;
};

class CrashCaptureTest : public testing::TestWithParam<TCrashCase> {};

TEST_P(CrashCaptureTest, LeavesAReportNamingTheFunctionThatCrashed) {
#if UPDATER_CRASH_DISABLED
  GTEST_SKIP() << "the sanitizer's own handlers take these signals";
#endif
  const TCrashCase& c = GetParam();
  TTempFolder folder;
  const TEnd end = RunChild({c.mode, folder.path, "250"});
  ASSERT_FALSE(end.hung);
  EXPECT_EQ(end.signal, c.signal) << "exit code " << end.code;

  const std::vector<std::string> reports = ReportsIn(folder.path);
  ASSERT_EQ(reports.size(), 1u);
  const std::string name = fs::path(reports[0]).filename().string();
  // crash-YYYYMMDD-HHMMSS.txt
  EXPECT_EQ(name.size(), std::string("crash-20240101-000000.txt").size()) << name;
  EXPECT_EQ(name.substr(name.size() - 4), ".txt");

  const std::string report = ReadAll(reports[0]);
  EXPECT_NE(report.find("program: crash_child\n"), std::string::npos);
  EXPECT_NE(report.find("version: "), std::string::npos);
  EXPECT_NE(report.find("build id: "), std::string::npos);
  EXPECT_NE(report.find("time: "), std::string::npos);
  EXPECT_NE(report.find(c.cause), std::string::npos) << report.substr(0, 600);
  EXPECT_EQ(report.find("(main thread)") != std::string::npos, c.main_thread);

  // The function, with the file and line of its source.
  const std::string stack =
      Section(report, "stack:") + Section(report, "stack where the exception was thrown:");
  const auto at = stack.find(c.function);
  ASSERT_NE(at, std::string::npos) << stack;
  const std::string frame = stack.substr(at, stack.find('\n', at) - at);
  EXPECT_NE(frame.find("crash_child.cpp:"), std::string::npos) << frame;
  EXPECT_NE(Section(report, "stack addresses:").find("crash_child+0x"), std::string::npos);

  EXPECT_NE(Section(report, "registers:").find("rip 0x"), std::string::npos) << report;
  EXPECT_NE(Section(report, "modules (/proc/self/maps):").find("/crash_child\n"),
            std::string::npos);
  // The child itself among the processes.
  // Looked for from the heading on: another process's name may hold anything, a blank line too.
  const auto processes = report.find("\nprocesses:\n");
  ASSERT_NE(processes, std::string::npos);
  EXPECT_NE(report.find(" crash_child\n", processes), std::string::npos)
      << report.substr(processes, 4000);
  // The log's last 200 of 250 lines, oldest first.
  const std::string log = Section(report, "event log (last 200 lines):");
  EXPECT_EQ(log.find("log line <49>"), std::string::npos);
  EXPECT_EQ(log.find("log line <50>\n"), 0u) << log.substr(0, 200);
  EXPECT_NE(log.find("log line <249>"), std::string::npos);
  EXPECT_NE(report.find("\nend of report\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Crashes, CrashCaptureTest,
    testing::Values(
        TCrashCase{"null-write", SIGSEGV, "signal: SIGSEGV (11)", "CrashChildWriteThroughNull",
                   true},
        TCrashCase{"abort", SIGABRT, "signal: SIGABRT (6)", "CrashChildAbort", true},
        TCrashCase{"divide-by-zero", SIGFPE, "signal: SIGFPE (8)", "CrashChildDivideByZero", true},
        TCrashCase{"throw-past-main", SIGABRT,
                   "terminate: exception std::runtime_error: thrown past main on purpose",
                   "CrashChildThrowPastMain", true},
        TCrashCase{"worker-null-write", SIGSEGV, "signal: SIGSEGV (11)",
                   "CrashChildWorkerWriteThroughNull", false},
        TCrashCase{"worker-throw", SIGABRT,
                   "terminate: exception std::logic_error: thrown out of a worker on purpose",
                   "CrashChildWorkerThrow", false}),
    [](const testing::TestParamInfo<TCrashCase>& param) {
      std::string name = param.param.mode;
      std::erase(name, '-');
      return name;
    });

// The register rows only exist for a signal; a fault inside the handler must end the process
// with the fault, leaving the header already written, and never wait.
TEST(CrashHandlerTest, FaultInsideTheHandlerEndsTheProcess) {
#if UPDATER_CRASH_DISABLED
  GTEST_SKIP() << "the sanitizer's own handlers take these signals";
#endif
  TTempFolder folder;
  const TEnd end = RunChild({"fault-in-handler", folder.path});
  ASSERT_FALSE(end.hung);
  EXPECT_EQ(end.signal, SIGSEGV);
  const std::vector<std::string> reports = ReportsIn(folder.path);
  ASSERT_EQ(reports.size(), 1u);
  const std::string report = ReadAll(reports[0]);
  EXPECT_NE(report.find("signal: SIGSEGV"), std::string::npos);
  EXPECT_EQ(report.find("end of report"), std::string::npos);
}

// A folder that cannot be made: the report goes to standard error, and the process still ends
// with its signal.
TEST(CrashHandlerTest, WithoutAFolderTheReportGoesToStandardError) {
#if UPDATER_CRASH_DISABLED
  GTEST_SKIP() << "the sanitizer's own handlers take these signals";
#endif
  TTempFolder folder;
  const std::string blocked = folder.path + "/file";
  std::ofstream(blocked) << "a file, not a folder";
  const std::string output = folder.path + "/stderr";
  // posix_spawn cannot redirect without file actions; a shell does it plainly.
  const std::string command =
      std::string(CRASH_CHILD) + " null-write " + blocked + "/reports 2>" + output;
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) || WIFSIGNALED(status));
  const std::string text = ReadAll(output);
  EXPECT_NE(text.find("program: crash_child"), std::string::npos) << text.substr(0, 400);
  EXPECT_NE(text.find("CrashChildWriteThroughNull"), std::string::npos);
  EXPECT_NE(text.find("end of report"), std::string::npos);
}

}  // namespace
