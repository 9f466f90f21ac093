// The handlers and the report they write. Everything from the handlers' entry to the report's
// end uses system calls, static memory and the caller's stack only; what needs the heap (frame
// names) runs in a disposable child process.

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <cxxabi.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>
#include <typeinfo>

#include "CrashLogRing.h"
#include "CrashReport.h"
#include "CrashStackPrivate.h"
#include "CrashTesting.h"

#ifndef UPDATER_VERSION
#define UPDATER_VERSION "unknown"
#endif

namespace updater::crash {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
// Longest a crashed process may take to write its report; then SIGALRM's default action ends it.
constexpr unsigned kHandlerSeconds = 60;
// Longest the child that names the frames may take; it is killed after that.
constexpr int kSymbolSeconds = 25;

// --- Prepared by Install --------------------------------------------------------------------
char g_program[128] = "unknown";
char g_build_id[2 * 64 + 1] = "";
long g_utc_offset = 0;  // seconds east of UTC when the handlers were installed
char g_folder[PATH_MAX] = "";
std::atomic<int> g_dir_fd{-1};
// An unnamed file in the folder (O_TMPFILE), linked under the report's name at the crash, so
// that writing the report needs no free descriptor; -1 where the file system has none.
std::atomic<int> g_file_fd{-1};
bool g_installed = false;
bool g_fault_inside_handler = false;

// --- Used by the handler --------------------------------------------------------------------
std::atomic<long> g_reporting_thread{0};
char g_maps[1 << 20];
std::size_t g_maps_size = 0;
alignas(16) char g_main_alt_stack[64 * 1024];
// The naming child runs on a stack of its own: the handler may be on the small alternate one.
alignas(16) char g_child_stack[4 << 20];
char g_dirents[16 * 1024];

long ThreadId() {
  return syscall(SYS_gettid);
}

// Output buffered on the stack, written out with write(2).
class TOut {
 public:
  explicit TOut(int fd) : fd_(fd) {}
  ~TOut() { Flush(); }
  TOut(const TOut&) = delete;
  TOut& operator=(const TOut&) = delete;

  TOut& Bytes(const char* data, std::size_t size) {
    while (size > 0) {
      if (used_ == sizeof buf_) {
        Flush();
      }
      const std::size_t part = size < sizeof buf_ - used_ ? size : sizeof buf_ - used_;
      std::memcpy(buf_ + used_, data, part);
      used_ += part;
      data += part;
      size -= part;
    }
    return *this;
  }
  TOut& Str(const char* text) { return Bytes(text, std::strlen(text)); }
  TOut& Char(char c) { return Bytes(&c, 1); }
  TOut& Dec(std::int64_t value) {
    char digits[24];
    int n = 0;
    const bool negative = value < 0;
    auto rest = static_cast<std::uint64_t>(negative ? -value : value);
    do {
      digits[n++] = static_cast<char>('0' + rest % 10);
      rest /= 10;
    } while (rest != 0);
    if (negative) {
      Char('-');
    }
    while (n > 0) {
      Char(digits[--n]);
    }
    return *this;
  }
  // Two digits, zero-padded.
  TOut& Dec2(unsigned value) {
    return Char(static_cast<char>('0' + value / 10 % 10)).Char(static_cast<char>('0' + value % 10));
  }
  TOut& Hex(std::uint64_t value, int width = 0) {
    char digits[16];
    int n = 0;
    do {
      digits[n++] = "0123456789abcdef"[value & 0xf];
      value >>= 4;
    } while (value != 0);
    while (n < width) {
      digits[n++] = '0';
    }
    Str("0x");
    while (n > 0) {
      Char(digits[--n]);
    }
    return *this;
  }
  void Flush() {
    const char* data = buf_;
    while (used_ > 0) {
      const ssize_t written = write(fd_, data, used_);
      if (written < 0 && errno == EINTR) {
        continue;
      }
      if (written <= 0) {
        break;  // nowhere to write: the rest is lost, the process still ends
      }
      data += written;
      used_ -= static_cast<std::size_t>(written);
    }
    used_ = 0;
  }

 private:
  int fd_;
  char buf_[2048];
  std::size_t used_ = 0;
};

// Reads a whole small file into buf; the size read (0 on failure).
std::size_t ReadFile(const char* path, char* buf, std::size_t capacity) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return 0;
  }
  std::size_t size = 0;
  while (size < capacity) {
    const ssize_t got = read(fd, buf + size, capacity - size);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    size += static_cast<std::size_t>(got);
  }
  close(fd);
  return size;
}

// "/proc/self/task/TID/comm" and the like, built without formatting functions.
void Path3(char* out, std::size_t capacity, const char* a, long number, const char* b) {
  std::size_t n = 0;
  auto put = [&](const char* text) {
    while (*text != '\0' && n + 1 < capacity) {
      out[n++] = *text++;
    }
  };
  put(a);
  char digits[24];
  int d = 0;
  auto rest = static_cast<unsigned long>(number);
  do {
    digits[d++] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  while (d > 0 && n + 1 < capacity) {
    out[n++] = digits[--d];
  }
  put(b);
  out[n] = '\0';
}

void CivilFromDays(std::int64_t days, int& year, unsigned& month, unsigned& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

struct TLocalTime {
  int year;
  unsigned month, day, hour, minute, second;
};

TLocalTime Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const std::int64_t local = now.tv_sec + g_utc_offset;
  std::int64_t days = local / 86400;
  std::int64_t seconds = local % 86400;
  if (seconds < 0) {
    seconds += 86400;
    --days;
  }
  TLocalTime time{};
  CivilFromDays(days, time.year, time.month, time.day);
  time.hour = static_cast<unsigned>(seconds / 3600);
  time.minute = static_cast<unsigned>(seconds / 60 % 60);
  time.second = static_cast<unsigned>(seconds % 60);
  return time;
}

// "crash-YYYYMMDD-HHMMSS[-N].txt"
void ReportName(char* out, const TLocalTime& t, int attempt) {
  char* p = out;
  auto put = [&p](const char* text) {
    while (*text != '\0') {
      *p++ = *text++;
    }
  };
  auto put_number = [&p](unsigned value, int width) {
    for (int i = width - 1; i >= 0; --i) {
      p[i] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
    p += width;
  };
  put(kReportPrefix);
  put_number(static_cast<unsigned>(t.year), 4);
  put_number(t.month, 2);
  put_number(t.day, 2);
  *p++ = '-';
  put_number(t.hour, 2);
  put_number(t.minute, 2);
  put_number(t.second, 2);
  if (attempt > 0) {
    *p++ = '-';
    put_number(static_cast<unsigned>(attempt + 1), 1);
  }
  put(kReportSuffix);
  *p = '\0';
}

// The report's descriptor: the prepared file linked under its name, a file made now, or
// standard error. name receives the file's name (empty for standard error).
int OpenReport(const TLocalTime& time, char* name) {
  const int dir = g_dir_fd.load();
  const int file = g_file_fd.exchange(-1);
  name[0] = '\0';
  if (dir >= 0) {
    char proc_path[64];
    Path3(proc_path, sizeof proc_path, "/proc/self/fd/", file, "");
    for (int attempt = 0; attempt < 10; ++attempt) {
      ReportName(name, time, attempt);
      if (file >= 0) {
        if (linkat(AT_FDCWD, proc_path, dir, name, AT_SYMLINK_FOLLOW) == 0) {
          return file;
        }
      } else {
        const int fd = openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
          return fd;
        }
      }
      if (errno != EEXIST) {
        break;
      }
    }
  }
  name[0] = '\0';
  return STDERR_FILENO;
}

const char* SignalName(int sig) {
  switch (sig) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGBUS:
      return "SIGBUS";
    case SIGFPE:
      return "SIGFPE";
    case SIGILL:
      return "SIGILL";
    case SIGABRT:
      return "SIGABRT";
    default:
      return "signal";
  }
}

// Finds the mapping of address in the maps read at the crash: the module's path and the
// address's offset in its file.
bool ModuleOf(std::uintptr_t address, const char*& path, std::size_t& path_size,
              std::uint64_t& offset) {
  const char* line = g_maps;
  const char* end = g_maps + g_maps_size;
  while (line < end) {
    const char* eol = static_cast<const char*>(std::memchr(line, '\n', end - line));
    if (eol == nullptr) {
      eol = end;
    }
    // start-end perms offset dev inode path
    auto hex = [&](const char*& p) {
      std::uint64_t value = 0;
      while (p < eol) {
        const char c = *p;
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) {
          break;
        }
        value = value * 16 + static_cast<std::uint64_t>(digit);
        ++p;
      }
      return value;
    };
    const char* p = line;
    const std::uint64_t start = hex(p);
    ++p;
    const std::uint64_t stop = hex(p);
    if (address >= start && address < stop) {
      while (p < eol && *p != ' ') {
        ++p;
      }
      ++p;
      while (p < eol && *p != ' ') {
        ++p;  // perms
      }
      ++p;
      const std::uint64_t file_offset = hex(p);
      // Skip the device and the inode to the path.
      for (int field = 0; field < 2; ++field) {
        while (p < eol && *p == ' ') {
          ++p;
        }
        while (p < eol && *p != ' ') {
          ++p;
        }
      }
      while (p < eol && *p == ' ') {
        ++p;
      }
      path = p;
      path_size = static_cast<std::size_t>(eol - p);
      offset = address - start + file_offset;
      return true;
    }
    line = eol + 1;
  }
  return false;
}

void WriteRawFrames(TOut& out, void* const* frames, int count) {
  for (int i = 0; i < count; ++i) {
    const auto address = reinterpret_cast<std::uintptr_t>(frames[i]);
    out.Char('#').Dec(i).Char(' ').Hex(address);
    const char* path = nullptr;
    std::size_t path_size = 0;
    std::uint64_t offset = 0;
    if (ModuleOf(address, path, path_size, offset)) {
      const char* base = path;
      for (std::size_t k = 0; k < path_size; ++k) {
        if (path[k] == '/') {
          base = path + k + 1;
        }
      }
      out.Char(' ').Bytes(base, path_size - static_cast<std::size_t>(base - path));
      out.Char('+').Hex(offset);
    }
    out.Char('\n');
  }
}

struct TChildJob {
  int fd;
  void* const* frames;
  int count;
  bool first_is_exact;
};

int NameFramesInChild(void* data) {
  const auto* job = static_cast<const TChildJob*>(data);
  // A fault here ends only this child; it must not write a report of its own.
  for (const int sig : kFatalSignals) {
    signal(sig, SIG_DFL);
  }
  alarm(kSymbolSeconds);
  const std::string text = DescribeFrames(job->frames, job->count, job->first_is_exact);
  TOut out(job->fd);
  out.Bytes(text.data(), text.size());
  out.Flush();
  _exit(0);
}

// Names the frames in a child process that shares nothing with this one but a copy of its
// memory; waits for it a bounded time.
void WriteNamedFrames(TOut& out, int fd, void* const* frames, int count, bool first_is_exact) {
  out.Flush();
  TChildJob job{fd, frames, count, first_is_exact};
  // The child is awaited below: an inherited "ignore SIGCHLD" would reap it unseen, and its
  // lines would then run into the rest of the report.
  struct sigaction reap {};
  reap.sa_handler = SIG_DFL;
  sigaction(SIGCHLD, &reap, nullptr);
  // No CLONE_VM: a copy of this process, as fork() makes, but without the C library's fork
  // handlers, which take locks a crashed process may hold.
  const pid_t child =
      clone(&NameFramesInChild, g_child_stack + sizeof g_child_stack, SIGCHLD, &job);
  if (child < 0) {
    out.Str("(frames not named: no child process)\n");
    return;
  }
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child || (done < 0 && errno != EINTR)) {
      if (done == child && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        out.Str("(naming the frames failed)\n");
      }
      return;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec > kSymbolSeconds) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      out.Str("(naming the frames took too long)\n");
      return;
    }
    timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

void WriteRegisters(TOut& out, const ucontext_t* context) {
#if defined(__x86_64__)
  static const struct {
    const char* name;
    int index;
  } kRegisters[] = {{"rax", REG_RAX}, {"rbx", REG_RBX},    {"rcx", REG_RCX}, {"rdx", REG_RDX},
                    {"rsi", REG_RSI}, {"rdi", REG_RDI},    {"rbp", REG_RBP}, {"rsp", REG_RSP},
                    {"r8", REG_R8},   {"r9", REG_R9},      {"r10", REG_R10}, {"r11", REG_R11},
                    {"r12", REG_R12}, {"r13", REG_R13},    {"r14", REG_R14}, {"r15", REG_R15},
                    {"rip", REG_RIP}, {"eflags", REG_EFL}, {"err", REG_ERR}, {"trapno", REG_TRAPNO},
                    {"cr2", REG_CR2}};
  int column = 0;
  for (const auto& reg : kRegisters) {
    out.Str(reg.name).Char(' ').Hex(
        static_cast<std::uint64_t>(context->uc_mcontext.gregs[reg.index]), 16);
    out.Char(++column % 4 == 0 ? '\n' : ' ');
  }
  if (column % 4 != 0) {
    out.Char('\n');
  }
#elif defined(__aarch64__)
  for (int i = 0; i < 31; ++i) {
    out.Char('x').Dec(i).Char(' ').Hex(context->uc_mcontext.regs[i], 16);
    out.Char((i + 1) % 4 == 0 ? '\n' : ' ');
  }
  out.Str("sp ").Hex(context->uc_mcontext.sp, 16).Str(" pc ").Hex(context->uc_mcontext.pc, 16);
  out.Str(" pstate ").Hex(context->uc_mcontext.pstate, 16).Char('\n');
#else
  (void)context;
  out.Str("(not known on this processor)\n");
#endif
}

std::uintptr_t ProgramCounter(const ucontext_t* context) {
#if defined(__x86_64__)
  return static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  return context->uc_mcontext.pc;
#else
  (void)context;
  return 0;
#endif
}

void WriteProcesses(TOut& out) {
  const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc < 0) {
    out.Str("(cannot be read)\n");
    return;
  }
  struct TDirent {
    std::uint64_t inode;
    std::int64_t offset;
    unsigned short size;
    unsigned char type;
    char name[1];
  };
  for (;;) {
    const long got = syscall(SYS_getdents64, proc, g_dirents, sizeof g_dirents);
    if (got <= 0) {
      break;
    }
    for (long at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const TDirent*>(g_dirents + at);
      at += entry->size;
      long pid = 0;
      const char* c = entry->name;
      for (; *c >= '0' && *c <= '9'; ++c) {
        pid = pid * 10 + (*c - '0');
      }
      if (*c != '\0' || c == entry->name) {
        continue;
      }
      char path[64];
      Path3(path, sizeof path, "/proc/", pid, "/comm");
      char comm[64];
      std::size_t size = ReadFile(path, comm, sizeof comm);
      if (size > 0 && comm[size - 1] == '\n') {
        --size;
      }
      out.Dec(pid).Char(' ').Bytes(comm, size).Char('\n');
    }
  }
  close(proc);
}

void WriteLogLine(const char* text, std::size_t size, void* data) {
  static_cast<TOut*>(data)->Bytes(text, size).Char('\n');
}

// Takes the report for this thread. False when another thread is already writing one: that
// thread ends the process, this one waits for it. A second entry from the same thread (a fault
// inside the handler that is not blocked) resets the signal's action instead.
enum class TClaim { Mine, Again, Other };
TClaim Claim() {
  long expected = 0;
  const long self = ThreadId();
  if (g_reporting_thread.compare_exchange_strong(expected, self)) {
    return TClaim::Mine;
  }
  return expected == self ? TClaim::Again : TClaim::Other;
}

void ResetToDefault(int sig) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
}

[[noreturn]] void WaitForTheReportingThread() {
  for (;;) {
    pause();
  }
}

// The report. sig 0: std::terminate, with exception_text.
void WriteReport(int sig, const siginfo_t* info, const ucontext_t* context,
                 const char* exception_text, const TStack* thrown) {
  ResetToDefault(SIGALRM);
  alarm(kHandlerSeconds);

  const TLocalTime time = Now();
  char name[64];
  const int fd = OpenReport(time, name);
  if (fd != STDERR_FILENO) {
    TOut note(STDERR_FILENO);
    note.Str(g_program).Str(": crash report: ").Str(g_folder).Str(name).Char('\n');
  }
  TOut out(fd);
  const long pid = getpid();
  const long tid = ThreadId();

  out.Str("Crash report\n");
  out.Str("program: ").Str(g_program).Char('\n');
  out.Str("version: ").Str(UPDATER_VERSION).Char('\n');
  out.Str("build id: ").Str(g_build_id[0] != '\0' ? g_build_id : "(none)").Char('\n');
  out.Str("time: ").Dec(time.year).Char('-').Dec2(time.month).Char('-').Dec2(time.day).Char(' ');
  out.Dec2(time.hour).Char(':').Dec2(time.minute).Char(':').Dec2(time.second).Char(' ');
  const long offset_minutes = (g_utc_offset < 0 ? -g_utc_offset : g_utc_offset) / 60;
  out.Char(g_utc_offset < 0 ? '-' : '+').Dec2(static_cast<unsigned>(offset_minutes / 60));
  out.Char(':').Dec2(static_cast<unsigned>(offset_minutes % 60)).Char('\n');
  out.Str("process: ").Dec(pid).Char('\n');
  char path[64];
  Path3(path, sizeof path, "/proc/self/task/", tid, "/comm");
  char thread_name[64];
  std::size_t thread_name_size = ReadFile(path, thread_name, sizeof thread_name);
  if (thread_name_size > 0 && thread_name[thread_name_size - 1] == '\n') {
    --thread_name_size;
  }
  out.Str("thread: ").Dec(tid).Str(" \"").Bytes(thread_name, thread_name_size).Char('"');
  out.Str(tid == pid ? " (main thread)\n" : "\n");
  if (sig != 0) {
    out.Str("signal: ").Str(SignalName(sig)).Str(" (").Dec(sig).Str("), code ").Dec(info->si_code);
    if (info->si_code <= 0) {
      out.Str(", sent by process ").Dec(info->si_pid);
    } else if (sig != SIGABRT) {
      out.Str(", address ").Hex(reinterpret_cast<std::uintptr_t>(info->si_addr));
    }
    out.Char('\n');
  } else {
    out.Str("terminate: ").Str(exception_text).Char('\n');
  }
  out.Flush();

  if (g_fault_inside_handler) {
    *static_cast<volatile int*>(nullptr) = 1;
  }

  g_maps_size = ReadFile("/proc/self/maps", g_maps, sizeof g_maps);

  // The faulting thread's stack, from the faulting instruction on when the unwinder passed
  // through the signal frame, else everything from here.
  TStack stack;
  // Without this function, and for std::terminate without its handler.
  CaptureStackInto(stack, sig == 0 ? 2 : 1);
  int first = 0;
  bool exact = false;
  if (sig != 0) {
    const std::uintptr_t pc = ProgramCounter(context);
    for (int i = 0; i < stack.count; ++i) {
      if (reinterpret_cast<std::uintptr_t>(stack.frames[i]) == pc) {
        first = i;
        exact = true;
        break;
      }
    }
  }
  out.Str("\nstack:\n");
  WriteNamedFrames(out, fd, stack.frames + first, stack.count - first, exact);
  out.Str("\nstack addresses:\n");
  WriteRawFrames(out, stack.frames + first, stack.count - first);
  if (thrown != nullptr && thrown->count > 0) {
    out.Str("\nstack where the exception was thrown:\n");
    WriteNamedFrames(out, fd, thrown->frames, thrown->count, false);
    out.Str("\nthrown at addresses:\n");
    WriteRawFrames(out, thrown->frames, thrown->count);
  }

  if (context != nullptr) {
    out.Str("\nregisters:\n");
    WriteRegisters(out, context);
  }
  out.Str("\nmodules (/proc/self/maps):\n").Bytes(g_maps, g_maps_size);
  out.Str("\nprocesses:\n");
  WriteProcesses(out);
  const std::uint64_t noted = LogLinesNoted();
  out.Str("\nevent log (last ")
      .Dec(static_cast<std::int64_t>(noted < kLogLinesKept ? noted : kLogLinesKept));
  out.Str(" lines):\n");
  ForEachLogLine(&WriteLogLine, &out);
  out.Str("\nend of report\n");
  out.Flush();
  if (fd != STDERR_FILENO) {
    fsync(fd);
  }
}

void OnFatalSignal(int sig, siginfo_t* info, void* context) {
  switch (Claim()) {
    case TClaim::Other:
      WaitForTheReportingThread();
    case TClaim::Again:
      ResetToDefault(sig);
      syscall(SYS_tgkill, getpid(), ThreadId(), sig);
      return;
    case TClaim::Mine:
      break;
  }
  WriteReport(sig, info, static_cast<const ucontext_t*>(context), nullptr, nullptr);
  // A fault comes back when the instruction runs again; a signal that was sent is sent again.
  // Either way its default action ends the process once this handler returns.
  ResetToDefault(sig);
  if (info->si_code <= 0) {
    syscall(SYS_tgkill, getpid(), ThreadId(), sig);
  }
}

std::string ExceptionText() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) {
    return "std::terminate without an exception";
  }
  int status = 0;
  char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
  std::string text = std::string("exception ") + (status == 0 ? demangled : type->name());
  std::free(demangled);
  try {
    throw;
  } catch (const std::exception& error) {
    text += std::string(": ") + error.what();
  } catch (...) {
  }
  return text;
}

[[noreturn]] void OnTerminate() {
  switch (Claim()) {
    case TClaim::Other:
      WaitForTheReportingThread();
    case TClaim::Again:
      break;
    case TClaim::Mine: {
      const TStack thrown = ThrownStack();
      const std::string text = ExceptionText();
      // Blocked while the report is written, as in the signal handler.
      sigset_t fatal;
      sigemptyset(&fatal);
      for (const int sig : kFatalSignals) {
        sigaddset(&fatal, sig);
      }
      pthread_sigmask(SIG_BLOCK, &fatal, nullptr);
      // The registers of the handler itself: there is no faulting instruction to show.
      ucontext_t context{};
      getcontext(&context);
      WriteReport(0, nullptr, &context, text.c_str(), &thrown);
      pthread_sigmask(SIG_UNBLOCK, &fatal, nullptr);
      break;
    }
  }
  ResetToDefault(SIGABRT);
  std::abort();
}

int ReadBuildId(dl_phdr_info* info, std::size_t, void*) {
  // The first object is the program itself.
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type != PT_NOTE) {
      continue;
    }
    const char* note = reinterpret_cast<const char*>(info->dlpi_addr + header.p_vaddr);
    const char* end = note + header.p_memsz;
    while (note + sizeof(ElfW(Nhdr)) <= end) {
      const auto* nhdr = reinterpret_cast<const ElfW(Nhdr)*>(note);
      const char* name = note + sizeof(ElfW(Nhdr));
      const char* desc = name + ((nhdr->n_namesz + 3) & ~3u);
      if (nhdr->n_type == NT_GNU_BUILD_ID && nhdr->n_namesz == 4 &&
          std::memcmp(name, "GNU", 4) == 0) {
        const std::size_t size = nhdr->n_descsz < 64 ? nhdr->n_descsz : 64;
        for (std::size_t k = 0; k < size; ++k) {
          const auto byte = static_cast<unsigned char>(desc[k]);
          g_build_id[2 * k] = "0123456789abcdef"[byte >> 4];
          g_build_id[2 * k + 1] = "0123456789abcdef"[byte & 0xf];
        }
        g_build_id[2 * size] = '\0';
        return 1;
      }
      note = desc + ((nhdr->n_descsz + 3) & ~3u);
    }
  }
  return 1;
}

bool MakeFolders(const std::string& folder) {
  for (std::size_t at = 1; at <= folder.size(); ++at) {
    if (at == folder.size() || folder[at] == '/') {
      const std::string part = folder.substr(0, at);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
        return false;
      }
    }
  }
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

void SetReportsFolder(const std::string& reports_folder) {
  int dir = -1;
  int file = -1;
  std::string folder = reports_folder;
  if (!folder.empty() && folder.back() != '/') {
    folder += '/';
  }
  if (!folder.empty() && folder.size() < sizeof g_folder && MakeFolders(folder)) {
    dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      file = openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    }
  }
  if (dir < 0) {
    folder.clear();
  }
  // The old descriptors stay open should a crash be using them right now; one pair per change.
  g_dir_fd.store(-1);
  std::memcpy(g_folder, folder.c_str(), folder.size() + 1);
  const int old_file = g_file_fd.exchange(file);
  g_dir_fd.store(dir);
  if (old_file >= 0) {
    close(old_file);
  }
  if (!folder.empty()) {
    PruneReports(folder, kReportsKept - 1);
  }
}

bool Install(const std::string& program, const std::string& reports_folder) {
  if (UPDATER_CRASH_DISABLED) {
    return false;
  }
  const std::size_t size = std::min(program.size(), sizeof g_program - 1);
  std::memcpy(g_program, program.data(), size);
  g_program[size] = '\0';
  dl_iterate_phdr(&ReadBuildId, nullptr);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  g_utc_offset = local.tm_gmtoff;
  SetReportsFolder(reports_folder);

  // The unwinder sets itself up on first use (it may allocate): not in a crashed process.
  (void)CaptureStack();

  if (!g_installed) {
    g_installed = true;
    stack_t alt{};
    alt.ss_sp = g_main_alt_stack;
    alt.ss_size = sizeof g_main_alt_stack;
    sigaltstack(&alt, nullptr);
    struct sigaction action {};
    action.sa_sigaction = &OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int sig : kFatalSignals) {
      sigaddset(&action.sa_mask, sig);
    }
    for (const int sig : kFatalSignals) {
      sigaction(sig, &action, nullptr);
    }
    std::set_terminate(&OnTerminate);
  }
  return true;
}

void FaultInsideHandlerForTest() {
  g_fault_inside_handler = true;
}

}  // namespace updater::crash
