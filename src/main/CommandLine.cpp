#include "CommandLine.h"

#include <sys/stat.h>
#include <QFile>
#include <string_view>

namespace updater {

namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

// The extension of the last path component, from its last dot, dot included.
std::string_view Extension(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

// The name must survive the trip into the file box and back: Qt keeps file names as text, so
// bytes that are no text in the system's encoding could not be opened again later.
bool RepresentableAsText(const std::string& name) {
  const QByteArray bytes(name.data(), static_cast<qsizetype>(name.size()));
  return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
}

bool IsFirmwareFile(const std::string& arg) {
  if (arg.empty() || arg.find('\0') != std::string::npos) {
    return false;
  }
  if (!EqualsIgnoringAsciiCase(Extension(arg), ".eraw")) {
    return false;
  }
  // Only a file counts, readable or not: a file the technician named must never be replaced by
  // the embedded image; if it cannot be read, its load fails and says so.
  struct stat info {};
  if (::stat(arg.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  return RepresentableAsText(arg);
}

bool IsExternSwitch(std::string_view arg) {
  if (!arg.empty() && (arg.front() == '/' || arg.front() == '-')) {
    arg.remove_prefix(1);
  }
  return EqualsIgnoringAsciiCase(arg, "externfirmware");
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine result;
  for (const std::string& arg : args) {
    if (IsFirmwareFile(arg)) {
      result.ExternFirmware = true;
      result.FileName = arg;
    }
    if (IsExternSwitch(arg)) {
      result.ExternFirmware = true;
    }
  }
  return result;
}

}  // namespace updater
