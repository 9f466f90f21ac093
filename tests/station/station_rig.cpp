#include "station_rig.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QJsonDocument>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "TrackerSpec.h"

namespace station_test {

namespace fs = std::filesystem;

namespace {

std::string BinDir() {
  return fs::path(STATION_BINARY).parent_path().string() + "/";
}

void TakeLines(QProcess& process, std::vector<QJsonObject>& seen, std::string& pending) {
  pending += process.readAllStandardOutput().toStdString();
  size_t eol;
  while ((eol = pending.find('\n')) != std::string::npos) {
    const std::string line = pending.substr(0, eol);
    pending.erase(0, eol + 1);
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
    if (doc.isObject()) {
      seen.push_back(doc.object());
    }
  }
}

}  // namespace

std::vector<QJsonObject> Events(const std::vector<QJsonObject>& all, const char* kind, int serial) {
  std::vector<QJsonObject> out;
  for (const QJsonObject& event : all) {
    if (event[QStringLiteral("event")].toString() == QLatin1String(kind) &&
        (serial == 0 || event[QStringLiteral("serial")].toInt() == serial)) {
      out.push_back(event);
    }
  }
  return out;
}

StationRig::StationRig(int replug_ms) {
  std::string pattern = (fs::temp_directory_path() / "station-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  dir_ = pattern;
  for (const char* sub : {"app", "by-id", "ftdi", "run"}) {
    fs::create_directories(dir_ + "/" + sub);
  }
  ::chmod((dir_ + "/run").c_str(), 0700);
  // A portable copy: the program and the maker's library in a folder of their own.
  fs::copy_file(STATION_BINARY, dir_ + "/app/veltorium-station");
  fs::copy_file(BinDir() + "libZIZUZ.so", dir_ + "/app/libZIZUZ.so");
  updater::sim::HostOptions options;
  options.dirs = {dir_ + "/by-id", dir_ + "/ftdi"};
  options.replugMs = replug_ms;
  host_ = std::make_unique<updater::sim::TrackerHost>(options);
  host_->Start();
}

StationRig::~StationRig() {
  host_.reset();
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

void StationRig::Add(const std::string& tracker) {
  updater::sim::TrackerConfig config;
  std::string error;
  if (!updater::sim::ParseTrackerSpec(tracker, config, error)) {
    throw std::runtime_error("bad tracker \"" + tracker + "\": " + error);
  }
  const std::string serial = config.serial;
  const updater::sim::TrackerMode mode = config.mode;
  if (!host_->Add(std::move(config), &error) || !host_->WaitPlugged(serial, mode)) {
    throw std::runtime_error("tracker " + serial + " not plugged: " + error);
  }
}

std::unique_ptr<QProcess> StationRig::Start(const QStringList& args) const {
  auto process = std::make_unique<QProcess>();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("ZIZUZ_DEVICE_DIR"), QString::fromStdString(dir_ + "/by-id"));
  env.insert(QStringLiteral("FTD2XX_SIM_DIR"), QString::fromStdString(dir_ + "/ftdi"));
  env.insert(QStringLiteral("LD_LIBRARY_PATH"), QString::fromStdString(BinDir() + "d2xx-sim"));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(dir_ + "/run"));
  process->setProcessEnvironment(env);
  process->start(QString::fromStdString(dir_ + "/app/veltorium-station"), args);
  if (!process->waitForStarted(60000)) {
    throw std::runtime_error("the station did not start");
  }
  return process;
}

bool StationRig::WaitEvent(QProcess& process, std::vector<QJsonObject>& seen,
                           const std::function<bool(const QJsonObject&)>& pred, int timeout_ms) {
  std::string pending;
  size_t checked = 0;
  QElapsedTimer timer;
  timer.start();
  for (;;) {
    for (; checked < seen.size(); ++checked) {
      if (pred(seen[checked])) {
        return true;
      }
    }
    if (timer.elapsed() > timeout_ms || process.state() == QProcess::NotRunning) {
      TakeLines(process, seen, pending);
      for (; checked < seen.size(); ++checked) {
        if (pred(seen[checked])) {
          return true;
        }
      }
      return false;
    }
    process.waitForReadyRead(200);
    TakeLines(process, seen, pending);
  }
}

Finished StationRig::End(QProcess& process, std::vector<QJsonObject> seen, int timeout_ms) {
  Finished result;
  if (!process.waitForFinished(timeout_ms)) {
    process.kill();
    process.waitForFinished(10000);
    result.err = "station did not end; killed\n";
  }
  std::string pending;
  TakeLines(process, seen, pending);
  result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  result.err += process.readAllStandardError().toStdString();
  result.events = std::move(seen);
  for (const QJsonObject& event : result.events) {
    result.out += QJsonDocument(event).toJson(QJsonDocument::Compact).toStdString() + "\n";
  }
  result.out += pending;
  return result;
}

Finished StationRig::Run(const QStringList& args, int timeout_ms) const {
  std::unique_ptr<QProcess> process = Start(args);
  if (!process->waitForFinished(timeout_ms)) {
    process->kill();
    process->waitForFinished(10000);
  }
  Finished result;
  result.code = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
  result.out = process->readAllStandardOutput().toStdString();
  result.err = process->readAllStandardError().toStdString();
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
    if (doc.isObject()) {
      result.events.push_back(doc.object());
    }
  }
  return result;
}

Finished StationRig::RunOnTerminal(const QStringList& args, int columns, int rows,
                                   int timeout_ms) const {
  // Everything the child needs is made before the fork: this process has threads, so the child
  // may only make async-signal-safe calls until it has become the station.
  const std::string program = dir_ + "/app/veltorium-station";
  std::vector<std::string> arg_text = {program};
  for (const QString& arg : args) {
    arg_text.push_back(arg.toStdString());
  }
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("ZIZUZ_DEVICE_DIR"), QString::fromStdString(dir_ + "/by-id"));
  env.insert(QStringLiteral("FTD2XX_SIM_DIR"), QString::fromStdString(dir_ + "/ftdi"));
  env.insert(QStringLiteral("LD_LIBRARY_PATH"), QString::fromStdString(BinDir() + "d2xx-sim"));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(dir_ + "/run"));
  env.insert(QStringLiteral("TERM"), QStringLiteral("xterm"));
  std::vector<std::string> env_text;
  for (const QString& entry : env.toStringList()) {
    env_text.push_back(entry.toStdString());
  }
  std::vector<char*> argv;
  for (std::string& arg : arg_text) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : env_text) {
    envp.push_back(entry.data());
  }
  envp.push_back(nullptr);

  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  int master = -1;
  int slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
    throw std::runtime_error("openpty failed");
  }
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  const pid_t pid = ::fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    ::setsid();
    ::ioctl(slave, TIOCSCTTY, 0);
    ::dup2(slave, 0);
    ::dup2(slave, 1);
    ::dup2(slave, 2);
    if (slave > 2) {
      ::close(slave);
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(slave);

  Finished result;
  QElapsedTimer timer;
  timer.start();
  char buffer[4096];
  for (;;) {
    pollfd poll_fd{master, POLLIN, 0};
    const int ready = ::poll(&poll_fd, 1, 200);
    if (ready > 0) {
      const ssize_t got = ::read(master, buffer, sizeof buffer);
      if (got > 0) {
        result.out.append(buffer, static_cast<size_t>(got));
        continue;
      }
      if (got < 0 && errno == EINTR) {
        continue;
      }
      break;  // EIO: the station and everything it started have closed the terminal
    }
    if (timer.elapsed() > timeout_ms) {
      ::kill(pid, SIGKILL);
      result.err = "station did not end; killed\n";
      break;
    }
  }
  ::close(master);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::vector<std::vector<std::string>> ReadCsv(const std::string& path, bool* complete) {
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  bool ended = true;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    ended = false;
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      row.push_back(field);
      field.clear();
      rows.push_back(row);
      row.clear();
      ended = true;
    } else {
      field += c;
    }
  }
  if (!ended) {
    row.push_back(field);
    rows.push_back(row);
  }
  if (complete != nullptr) {
    *complete = ended;
  }
  return rows;
}

}  // namespace station_test
