// How late the kernel delivers pseudo-terminal bytes, with and without other work on the
// machine: the maker's library reads real ttys, so on a loaded machine a reply can reach the
// job later than the tracker sent it, whatever the program does.
//
// For each of P pairs, one thread plays a tracker on the master side: it reads each request (a
// 526-byte write frame in 64-byte parts, as a job sends it) and answers 14 bytes at once;
// another plays the job on the slave side, in raw mode, and measures each round trip from its
// last write to the last reply byte. Prints the count, median, 99th percentile, maximum, and
// how many took longer than the library's read time-out of 500 ms, for N spinning processes
// (N given, 0 and 2 by default).
//
// Usage: bench_pty [requests per pair] [pairs] [busy ...]

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "busy_processes.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kRequestSize = 526;
constexpr size_t kPartSize = 64;
constexpr size_t kReplySize = 14;
constexpr double kLibraryTimeoutMs = 500;

bool ReadExactly(int fd, unsigned char* buffer, size_t count, int timeout_ms) {
  size_t got = 0;
  while (got < count) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) {
      return false;
    }
    const ssize_t n = read(fd, buffer + got, count - got);
    if (n <= 0) {
      return false;
    }
    got += static_cast<size_t>(n);
  }
  return true;
}

// One job and its tracker over their own pseudo-terminal pair; the round trips are appended.
bool RunPair(int requests, std::vector<double>& trips, int& lost) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("posix_openpt");
    return false;
  }
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    std::perror("open slave");
    close(master);
    return false;
  }
  termios raw{};
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);

  std::atomic<bool> stop{false};
  std::thread tracker([&] {
    std::vector<unsigned char> request(kRequestSize);
    const std::vector<unsigned char> reply(kReplySize, 0x42);
    while (!stop) {
      if (!ReadExactly(master, request.data(), request.size(), 100)) {
        continue;
      }
      [[maybe_unused]] const ssize_t n = write(master, reply.data(), reply.size());
    }
  });

  std::vector<unsigned char> frame(kRequestSize, 0x11);
  std::vector<unsigned char> reply(kReplySize);
  for (int i = 0; i < requests; ++i) {
    for (size_t offset = 0; offset < frame.size(); offset += kPartSize) {
      const size_t part = std::min(kPartSize, frame.size() - offset);
      [[maybe_unused]] const ssize_t n = write(slave, frame.data() + offset, part);
      if (offset + part < frame.size()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the protocol's pause
      }
    }
    const auto sent = Clock::now();
    if (!ReadExactly(slave, reply.data(), reply.size(), 10000)) {
      ++lost;
      continue;
    }
    trips.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
  }
  stop = true;
  tracker.join();
  close(slave);
  close(master);
  return true;
}

int Run(int requests, int pairs, int busy) {
  TBusyProcesses spinning(busy);
  std::vector<std::vector<double>> per_pair(static_cast<size_t>(pairs));
  std::vector<int> lost_per_pair(static_cast<size_t>(pairs), 0);
  std::atomic<bool> ok{true};
  std::vector<std::thread> jobs;
  for (size_t p = 0; p < per_pair.size(); ++p) {
    jobs.emplace_back([&, p] {
      if (!RunPair(requests, per_pair[p], lost_per_pair[p])) {
        ok = false;
      }
    });
  }
  for (std::thread& job : jobs) {
    job.join();
  }
  if (!ok) {
    return 1;
  }
  std::vector<double> trips;
  int lost = 0;
  for (size_t p = 0; p < per_pair.size(); ++p) {
    trips.insert(trips.end(), per_pair[p].begin(), per_pair[p].end());
    lost += lost_per_pair[p];
  }
  std::sort(trips.begin(), trips.end());
  const auto at = [&](double q) {
    return trips.empty() ? 0.0
                         : trips[static_cast<size_t>(q * static_cast<double>(trips.size() - 1))];
  };
  const auto over =
      std::count_if(trips.begin(), trips.end(), [](double ms) { return ms > kLibraryTimeoutMs; });
  std::printf("%5d %5d %8zu %10.3f %10.3f %10.3f %8ld %6d\n", pairs, busy, trips.size(), at(0.5),
              at(0.99), trips.empty() ? 0.0 : trips.back(), static_cast<long>(over), lost);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
  const int pairs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  std::vector<int> loads;
  for (int i = 3; i < argc; ++i) {
    loads.push_back(std::atoi(argv[i]));
  }
  if (loads.empty()) {
    loads = {0, 2};
  }
  std::printf("%5s %5s %8s %10s %10s %10s %8s %6s\n", "pairs", "busy", "trips", "median ms",
              "p99 ms", "max ms", ">500 ms", "lost");
  for (const int busy : loads) {
    if (Run(requests, pairs, busy) != 0) {
      return 1;
    }
  }
  return 0;
}
