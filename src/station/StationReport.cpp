#include "StationReport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

#include "TextFormat.h"

namespace updater {

namespace {

constexpr const char* kHeaderFields[] = {"time",        "host",           "serial",
                                         "driver",      "processor",      "firmware_before",
                                         "boot_loader", "image_version",  "image_checksum",
                                         "result_code", "result_text",    "duration_ms",
                                         "retries",     "sectors_erased", "sectors_written"};

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Ends a last line that a killed writer left without its line end.
bool EndTornLine(int fd, off_t size) {
  if (size == 0) {
    return true;
  }
  char last = 0;
  if (::pread(fd, &last, 1, size - 1) != 1) {
    return false;
  }
  return last == '\n' || WriteAll(fd, "\r\n");
}

}  // namespace

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    return text;
  }
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') {
      quoted += '"';
    }
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string CsvHeader() {
  std::string line;
  for (const char* field : kHeaderFields) {
    if (!line.empty()) {
      line += ',';
    }
    line += field;
  }
  return line + "\r\n";
}

std::string CsvRow(const TReportRow& row) {
  const std::vector<std::string> fields = {row.Time,
                                           row.Host,
                                           std::to_string(row.Serial),
                                           row.Driver,
                                           Format("0x%08X", row.ProcessorId),
                                           row.FirmwareBefore,
                                           row.BootLoader,
                                           row.ImageVersion,
                                           row.ImageChecksum,
                                           std::to_string(row.ResultCode),
                                           row.ResultText,
                                           std::to_string(row.DurationMs),
                                           std::to_string(row.Retries),
                                           std::to_string(row.SectorsErased),
                                           std::to_string(row.SectorsWritten)};
  std::string line;
  for (const std::string& field : fields) {
    if (!line.empty()) {
      line += ',';
    }
    line += CsvField(field);
  }
  return line + "\r\n";
}

bool TStationReport::Open(std::string& reason) {
  return WriteLocked(CsvHeader(), /*header_only=*/true, reason);
}

bool TStationReport::Append(const TReportRow& row, std::string& reason) {
  return WriteLocked(CsvRow(row), /*header_only=*/false, reason);
}

bool TStationReport::WriteLocked(const std::string& text, bool header_only, std::string& reason) {
  const QByteArray name = QFile::encodeName(path_);
  const int fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    reason = ErrnoText(name.constData());
    return false;
  }
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  bool ok = true;
  while (::fcntl(fd, F_SETLKW, &lock) != 0) {
    if (errno != EINTR) {
      reason = ErrnoText("lock");
      ok = false;
      break;
    }
  }
  struct stat info {};
  if (ok && ::fstat(fd, &info) != 0) {
    reason = ErrnoText("stat");
    ok = false;
  }
  if (ok) {
    // The header goes into a new (empty) file only, and before the first row.
    std::string out;
    if (info.st_size == 0) {
      out = CsvHeader();
    }
    if (!header_only) {
      out += text;
    }
    if (!EndTornLine(fd, info.st_size) || !WriteAll(fd, out) || ::fsync(fd) != 0) {
      reason = ErrnoText(name.constData());
      ok = false;
    }
  }
  // Closing the file lets go of the lock.
  ::close(fd);
  return ok;
}

}  // namespace updater
