#include "TrackerDump.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace updater::sim {

namespace fs = std::filesystem;

namespace {
std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    s += kDigits[b >> 4];
    s += kDigits[b & 15];
  }
  return s;
}
// Replies of a misbehaving firmware may hold any byte; the log stays one printable line.
std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 32 && c < 127 && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
    }
  }
  return out;
}

}  // namespace

std::string RequestSummary(const RequestRecord& r) {
  char head[160];
  if (r.frameNumber == 0) {
    std::snprintf(head, sizeof head, "text %s", r.text.c_str());
    std::string line = head;
    line += r.answered ? " reply=" + Printable(r.note) : " reply=none";
    return line;
  }
  std::snprintf(head, sizeof head, "frame %d code=%u sector=%u address=0x%X length=%zu result=%u",
                r.frameNumber, r.code, r.sector, r.address, r.raw.size(), r.result);
  std::string line = head;
  if (!r.answered) {
    line += " (no reply)";
  }
  if (!r.note.empty()) {
    line += " [" + r.note + "]";
  }
  return line;
}

std::string RequestLine(const RequestRecord& r) {
  return r.frameNumber == 0 ? RequestSummary(r) : RequestSummary(r) + " bytes=" + Hex(r.raw);
}

bool DumpTracker(const Tracker& tracker, const std::string& dir, std::string& error) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    error = "cannot create " + dir + ": " + ec.message();
    return false;
  }
  const std::string base = (fs::path(dir) / tracker.Config().serial).string();
  {
    std::ofstream flash(base + ".flash", std::ios::binary | std::ios::trunc);
    const auto& bytes = tracker.Flash();
    flash.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    if (!flash) {
      error = "cannot write " + base + ".flash";
      return false;
    }
  }
  std::ofstream log(base + ".log", std::ios::trunc);
  for (const RequestRecord& r : tracker.Requests()) {
    log << RequestLine(r) << '\n';
  }
  log << "finish " << FinishName(tracker.Finish()) << '\n';
  if (!log) {
    error = "cannot write " + base + ".log";
    return false;
  }
  return true;
}

}  // namespace updater::sim
