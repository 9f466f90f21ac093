#include "SimVersionText.h"

#include <cctype>

namespace updater::sim {

namespace {

// Optional blanks and sign, then at least one digit; advances pos past what it read.
bool ReadInt(const std::string& s, size_t& pos, long& value) {
  while (pos < s.size() && std::isspace(static_cast<unsigned char>(s[pos]))) {
    ++pos;
  }
  bool negative = false;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
    negative = s[pos] == '-';
    ++pos;
  }
  size_t start = pos;
  long v = 0;
  while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
    v = (v * 10 + (s[pos] - '0')) % 1000000;
    ++pos;
  }
  if (pos == start) {
    return false;
  }
  value = negative ? -v : v;
  return true;
}

std::string Trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) {
    ++b;
  }
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) {
    --e;
  }
  return s.substr(b, e - b);
}

}  // namespace

SimVersion ReadVersionText(const std::string& text) {
  SimVersion v;
  size_t dash = text.find('-');
  if (dash == std::string::npos || dash == 0) {
    return v;
  }
  std::string rest = text.substr(dash + 1);
  size_t pos = 0;
  long major = 0;
  long minor = 0;
  if (!ReadInt(rest, pos, major) || pos >= rest.size() || rest[pos] != '.') {
    return v;
  }
  ++pos;
  if (!ReadInt(rest, pos, minor)) {
    return v;
  }
  v.valid = true;
  v.number = static_cast<uint32_t>(major * 100 + minor) & 0xFFFFu;
  size_t skip = 0;
  while (skip < rest.size() &&
         (std::isdigit(static_cast<unsigned char>(rest[skip])) || rest[skip] == '.')) {
    ++skip;
  }
  v.suffix = Trim(rest.substr(skip));
  return v;
}

}  // namespace updater::sim
