#pragma once
// The station's production report: a CSV file with one row per finished job, for several
// stations that may append to one file on a network share.
//
// Every row is written whole with one write, under an exclusive POSIX record lock (fcntl, which
// network file systems honour), and synced to disk before the call returns: a killed station or
// a power cut loses at most the row being written. A row never lands behind a torn last line:
// such a line is ended first, so earlier rows stay intact. Fields are quoted as RFC 4180 says.
//
// Threads: main thread. The file is opened for each row and closed after it; nothing is held
// between rows.

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace updater {

struct TReportRow {
  std::string Time;  // local time with its zone, ISO 8601
  std::string Host;
  int32_t Serial = 0;
  std::string Driver;
  uint32_t ProcessorId = 0;
  std::string FirmwareBefore;
  std::string BootLoader;
  std::string ImageVersion;
  std::string ImageChecksum;
  int32_t ResultCode = 0;
  std::string ResultText;
  int32_t DurationMs = 0;
  int32_t Retries = 0;
  int32_t SectorsErased = 0;
  int32_t SectorsWritten = 0;
};

// One field as RFC 4180 wants it: quoted when it holds a comma, a quote, CR or LF (quotes
// doubled), else as it is.
std::string CsvField(const std::string& text);
// The fields of a row and the header, each ending with CR LF.
std::string CsvHeader();
std::string CsvRow(const TReportRow& row);

class TStationReport {
 public:
  explicit TStationReport(QString path) : path_(std::move(path)) {}

  // Opens the file for appending (made when missing) and writes the header when it is empty.
  // False with a plain reason when it cannot be written.
  bool Open(std::string& reason);
  // Appends one row; false with a reason when it could not be written whole.
  bool Append(const TReportRow& row, std::string& reason);

  const QString& Path() const { return path_; }

 private:
  bool WriteLocked(const std::string& text, bool header_only, std::string& reason);

  QString path_;
};

}  // namespace updater
