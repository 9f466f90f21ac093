#pragma once
// Crash reports: a process that ends on a fatal signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT) in any thread, or in std::terminate (an exception nothing caught), leaves a text
// report in its reports folder as crash-YYYYMMDD-HHMMSS.txt; the next start of the program
// finds it and shows it or names it. Standard C++ and POSIX only, so that any of the package's
// programs can use it, with or without widgets:
//
//   updater::crash::Install("veltorium-station", folders.logs);   // at start
//   updater::crash::PrintUnseenReports(folders.logs, "veltorium-station");   // names the last
//
// What a crashed process does: the handler works from memory and descriptors prepared by
// Install (the folder's descriptor, an unnamed file opened in it, the build id, the time zone
// offset), writes the header, the raw return addresses with their modules and offsets, the
// registers, /proc/self/maps, the processes in /proc and the event log's last lines, without
// allocating. Function names, files and lines come from a child process forked without the
// C library's fork handlers: it symbolises the addresses with libdw (through backward-cpp) and
// appends them; the parent waits for it a bounded time and kills it if it hangs (the heap of a
// crashed process may be locked). An alarm set on entry ends the process should anything else
// hang, and a second fault inside the handler ends it at once (the fatal signals are blocked
// while it runs and reset to their default actions).
//
// Under AddressSanitizer or ThreadSanitizer, whose runtimes install handlers of their own,
// Install does nothing and returns false.
//
// Threads: Install, SetReportsFolder and the file functions from one thread (the main thread),
// normally at start. NoteLogLine from one thread at a time (the event log's main thread). The
// handlers run on whichever thread crashes.

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace updater::crash {

// A report's name: crash-YYYYMMDD-HHMMSS.txt, and a marker beside it once it has been seen.
inline constexpr char kReportPrefix[] = "crash-";
inline constexpr char kReportSuffix[] = ".txt";
inline constexpr char kSeenSuffix[] = ".seen";
// Reports kept in a folder; older ones go at the next Install.
inline constexpr int kReportsKept = 10;
// Event log lines a report carries.
inline constexpr int kLogLinesKept = 200;

// Installs the handlers for the whole process (every thread) and std::terminate's handler.
// program: the program's name in the report. reports_folder: made if missing; empty, or one
// that cannot be made, sends reports to standard error. Older reports beyond kReportsKept - 1
// are removed, so that with the next one there are at most kReportsKept. False when nothing
// was installed (a sanitizer's build).
bool Install(const std::string& program, const std::string& reports_folder);

// Moves later reports to another folder (made if missing).
void SetReportsFolder(const std::string& reports_folder);

// Adds one finished event log line to the ring the handler reads (longer lines are cut).
void NoteLogLine(const char* line, std::size_t size);

// The reports in folder that program left and nobody has seen yet, full paths, oldest first.
std::vector<std::string> UnseenReports(const std::string& folder, const std::string& program);

// Marks a report as seen: a marker file beside it. False when the marker cannot be made.
bool MarkSeen(const std::string& report_path);

// Removes the oldest reports (and their markers) until at most keep remain.
void PruneReports(const std::string& folder, int keep);

// Writes "crash report: PATH" to out for every unseen report of program in folder, and marks
// them seen. Returns how many.
int PrintUnseenReports(const std::string& folder, const std::string& program,
                       std::FILE* out = stderr);

// A stack of raw return addresses, innermost first.
struct TStack {
  static constexpr int kMaxFrames = 64;
  void* frames[kMaxFrames] = {};
  int count = 0;
};

// The stack of the calling thread, without its skip innermost frames (besides this function).
TStack CaptureStack(int skip = 0);

// The stack at which the exception being handled on this thread was thrown, for a catch
// block; empty when it is not known (a sanitizer's build, an exception thrown inside a
// library that binds its throws to itself).
TStack ThrownStack();

// Numbered lines "#N 0xADDR in FUNCTION at FILE:LINE (MODULE)"; inlined calls on lines of
// their own. Allocates and reads debug information: not for a crashed process.
// first_is_exact: the first address is an instruction pointer, not a return address.
std::string DescribeStack(const TStack& stack, bool first_is_exact = false);

}  // namespace updater::crash
