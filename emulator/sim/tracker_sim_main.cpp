// tracker-sim: serves virtual trackers (the maker's kind on pseudo-terminals, the FTDI kind on
// Unix-domain sockets) until SIGTERM/SIGINT or "quit".
// The main thread reads commands from stdin and waits for signals; the host's threads serve
// the trackers and print events. stdout lines are written whole, under one lock.

#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "TrackerHost.h"
#include "TrackerSpec.h"

using namespace updater::sim;

namespace {

int gSignalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 'x';
  [[maybe_unused]] ssize_t n = write(gSignalPipe[1], &c, 1);
}

std::mutex gOutMutex;

void Print(const std::string& line) {
  std::lock_guard lock(gOutMutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Usage(FILE* to) {
  std::fprintf(to,
               "usage: tracker-sim [--zizuz-dir DIR] [--ftdi-dir DIR] [--dump-dir DIR]\n"
               "                   [--replug-ms N] --tracker SPEC [--tracker SPEC ...]\n"
               "  --zizuz-dir DIR  where maker's-kind trackers appear (default "
               "$ZIZUZ_DEVICE_DIR, else /dev/serial/by-id)\n"
               "  --ftdi-dir DIR   where FTDI-kind trackers appear (default $FTD2XX_SIM_DIR, "
               "else /tmp/ftd2xx-sim)\n"
               "  --dump-dir DIR   where dumps go (default: current directory)\n"
               "  --replug-ms N    a tracker that answered STARTED is back after N ms "
               "(default 500)\n"
               "stdin commands: dump | unplug SERIAL | plug SERIAL | quit\n%s",
               kTrackerSpecHelp);
}

struct Options {
  HostOptions host;
  std::string dumpDir = ".";
  std::vector<TrackerConfig> trackers;
};

// Exit code 2 on any bad argument, with the reason on stderr.
bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      std::exit(0);
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "tracker-sim: %s needs a value\n", arg.c_str());
      return false;
    }
    const std::string value = argv[++i];
    if (arg == "--zizuz-dir") {
      o.host.dirs.zizuzDir = value;
    } else if (arg == "--ftdi-dir") {
      o.host.dirs.ftdiDir = value;
    } else if (arg == "--dump-dir") {
      o.dumpDir = value;
    } else if (arg == "--replug-ms") {
      char* end = nullptr;
      long ms = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || ms < 0 || ms > 600000) {
        std::fprintf(stderr, "tracker-sim: bad --replug-ms \"%s\"\n", value.c_str());
        return false;
      }
      o.host.replugMs = static_cast<int>(ms);
    } else if (arg == "--tracker") {
      TrackerConfig c;
      std::string error;
      if (!ParseTrackerSpec(value, c, error)) {
        std::fprintf(stderr, "tracker-sim: %s\n", error.c_str());
        return false;
      }
      o.trackers.push_back(std::move(c));
    } else {
      std::fprintf(stderr, "tracker-sim: unknown option \"%s\"\n", arg.c_str());
      return false;
    }
  }
  if (o.trackers.empty()) {
    std::fprintf(stderr, "tracker-sim: no --tracker given\n");
    return false;
  }
  return true;
}

void DumpAll(TrackerHost& host, const std::string& dir) {
  std::string error;
  for (const std::string& serial : host.Serials()) {
    if (host.Dump(serial, dir, &error)) {
      Print("dumped " + serial + " " + dir);
    } else {
      Print("error " + serial + " " + error);
    }
  }
}

// False when the program should end.
bool RunCommand(TrackerHost& host, const std::string& line, const std::string& dumpDir) {
  const size_t space = line.find(' ');
  const std::string word = line.substr(0, space);
  const std::string serial = space == std::string::npos ? "" : line.substr(space + 1);
  if (word == "quit") {
    return false;
  }
  if (word == "dump") {
    DumpAll(host, dumpDir);
  } else if ((word == "plug" || word == "unplug") && !serial.empty()) {
    if (!host.Status(serial).known) {
      Print("error " + serial + " no such tracker");
    } else if (!(word == "plug" ? host.Plug(serial) : host.Unplug(serial))) {
      Print("error " + serial + " " + word + " did not take effect");
    }
  } else if (!word.empty()) {
    Print("error - unknown command \"" + line + "\"");
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    Usage(stderr);
    return 2;
  }
  if (pipe(gSignalPipe) != 0) {
    std::perror("tracker-sim: pipe");
    return 1;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  o.host.onEvent = Print;
  TrackerHost host(o.host);
  for (TrackerConfig& c : o.trackers) {
    std::string error;
    if (!host.Add(std::move(c), &error)) {
      std::fprintf(stderr, "tracker-sim: %s\n", error.c_str());
      return 2;
    }
  }
  host.Start();

  // stdin ending (e.g. </dev/null) does not end the program; only quit or a signal does.
  bool stdinOpen = true;
  std::string pending;
  for (bool running = true; running;) {
    pollfd fds[2] = {{gSignalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(fds, stdinOpen ? 2 : 1, -1) < 0) {
      continue;
    }
    if (fds[0].revents != 0) {
      break;
    }
    if (stdinOpen && fds[1].revents != 0) {
      char chunk[512];
      ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
      if (n <= 0) {
        stdinOpen = false;
        continue;
      }
      pending.append(chunk, static_cast<size_t>(n));
      for (size_t eol; running && (eol = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, eol);
        pending.erase(0, eol + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
          line.pop_back();
        }
        running = RunCommand(host, line, o.dumpDir);
      }
    }
  }
  host.Stop();
  DumpAll(host, o.dumpDir);
  return 0;
}
