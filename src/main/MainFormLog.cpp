// The event log: coloured lines in reLog and, while cbWritelogToFile is ticked, the daily file
// YYYYMMDD.log in Windows-1251 in the Logs folder (beside the executable, or the user's own
// for an installed copy).

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "LogView.h"
#include "MainForm.h"
#include "TextFormat.h"

namespace updater {

namespace {

std::string DevicePrefix(int32_t serial) {
  if (serial == 0) {
    return "Прибор -------\t";
  }
  return Format("Прибор %7d\t", serial);
}

}  // namespace

void TMainForm::LogMsg(int kind, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  AddLogLine(kind, DevicePrefix(0) + text);
}

void TMainForm::LogDevMsg(int kind, int32_t serial, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  AddLogLine(kind, DevicePrefix(serial) + text);
}

void TMainForm::LogDevLine(int kind, int32_t serial, const std::string& text) {
  AddLogLine(kind, DevicePrefix(serial) + text);
}

TLogSink TMainForm::LogSink() {
  return
      [this](int kind, int32_t serial, const std::string& text) { LogDevLine(kind, serial, text); };
}

void TMainForm::AddLogLine(int kind, const std::string& line) {
  AppendLogLine(*reLog, kind, QString::fromUtf8(line));
  WriteLogFile(line);
}

void TMainForm::WriteLogFile(const std::string& line) {
  if (!cbWritelogToFile->isChecked() || FAppPath.empty()) {
    return;
  }
  // A failure loses this line from the file only; the next line tries again. The first
  // failure after a success is told once in the view, so the file is never lost unnoticed.
  const QDateTime now = QDateTime::currentDateTime();
  const std::string file =
      FFolders.logs + now.toString(QStringLiteral("yyyyMMdd")).toStdString() + ".log";
  // Built by appending: g++ 12 at -O3 takes a prepend to a temporary string for an overlapping
  // copy (a false -Wrestrict).
  std::string record = "[";
  record += now.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss.zzz")).toStdString();
  record += "]\t";
  record += line;
  record += "\r\n";
  const std::string bytes = Utf8ToCp1251(record);

  // The folder is made only when the file cannot be opened without it, not for every line.
  constexpr int kFlags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
  int fd = -1;
  bool make_folder = FFolders.logs.empty();  // no place at all: the folder's reason tells why
  if (!make_folder) {
    fd = ::open(file.c_str(), kFlags, 0644);
    make_folder = fd < 0 && (errno == ENOENT || errno == ENOTDIR);
  }
  if (make_folder) {
    std::string reason;
    if (!MakeFolder(FFolders.logs, reason)) {
      LogFileFailed(
          Format("не удалось создать папку %s (%s)", FFolders.logs.c_str(), reason.c_str()));
      return;
    }
    fd = ::open(file.c_str(), kFlags, 0644);
  }
  if (fd < 0) {
    LogFileFailed(Format("не удалось открыть файл %s (%s)", file.c_str(), std::strerror(errno)));
    return;
  }
  [[maybe_unused]] const ssize_t written = ::write(fd, bytes.data(), bytes.size());
  ::close(fd);
  log_file_failed_ = false;
}

void TMainForm::LogFileFailed(const std::string& what) {
  if (log_file_failed_) {
    return;
  }
  // Set first: the line below passes through the file writer too, which fails again quietly.
  log_file_failed_ = true;
  LogMsg(kLogError, "Лог не записывается в файл: %s", what.c_str());
}

}  // namespace updater
