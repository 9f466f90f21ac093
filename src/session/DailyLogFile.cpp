#include "DailyLogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>
#include <cerrno>
#include <cstring>

#include "DataFolders.h"
#include "TextFormat.h"

namespace updater {

void TDailyLogFile::SetFolder(const std::string& folder) {
  folder_ = folder;
  has_folder_ = true;
}

std::optional<std::string> TDailyLogFile::Failed(std::string what) {
  if (failed_) {
    return std::nullopt;
  }
  failed_ = true;
  return what;
}

std::optional<std::string> TDailyLogFile::Write(const std::string& line) {
  if (!enabled_ || !has_folder_) {
    return std::nullopt;
  }
  const QDateTime now = QDateTime::currentDateTime();
  const std::string file =
      folder_ + now.toString(QStringLiteral("yyyyMMdd")).toStdString() + ".log";
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
  bool make_folder = folder_.empty();  // no place at all: the folder's reason tells why
  if (!make_folder) {
    fd = ::open(file.c_str(), kFlags, 0644);
    make_folder = fd < 0 && (errno == ENOENT || errno == ENOTDIR);
  }
  if (make_folder) {
    std::string reason;
    if (!MakeFolder(folder_, reason)) {
      return Failed(Format("не удалось создать папку %s (%s)", folder_.c_str(), reason.c_str()));
    }
    fd = ::open(file.c_str(), kFlags, 0644);
  }
  if (fd < 0) {
    return Failed(Format("не удалось открыть файл %s (%s)", file.c_str(), std::strerror(errno)));
  }
  [[maybe_unused]] const ssize_t written = ::write(fd, bytes.data(), bytes.size());
  ::close(fd);
  failed_ = false;
  return std::nullopt;
}

}  // namespace updater
