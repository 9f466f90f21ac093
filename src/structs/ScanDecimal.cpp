#include "ScanDecimal.h"

namespace updater {

namespace {

// The blanks of the C locale's isspace; a fixed set, so the user's locale changes nothing.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

void SkipBlanks(std::string_view text, size_t& pos) {
  while (pos < text.size() && IsBlank(text[pos])) {
    ++pos;
  }
}

bool ReadInteger(std::string_view text, size_t& pos, int32_t& value) {
  SkipBlanks(text, pos);
  size_t at = pos;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  if (at >= text.size() || !IsDigit(text[at])) {
    return false;
  }
  // Unsigned arithmetic wraps by definition; the final conversion is modular in C++20.
  uint32_t magnitude = 0;
  while (at < text.size() && IsDigit(text[at])) {
    magnitude = magnitude * 10u + static_cast<uint32_t>(text[at] - '0');
    ++at;
  }
  value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  pos = at;
  return true;
}

}  // namespace

size_t ScanDecimals(std::string_view text, std::string_view pattern, std::span<int32_t> out) {
  size_t stored = 0;
  size_t pos = 0;
  for (size_t p = 0; p < pattern.size(); ++p) {
    if (pattern[p] == '%' && p + 1 < pattern.size() && pattern[p + 1] == 'd') {
      if (stored == out.size() || !ReadInteger(text, pos, out[stored])) {
        break;
      }
      ++stored;
      ++p;
    } else if (IsBlank(pattern[p])) {
      SkipBlanks(text, pos);
    } else if (pos < text.size() && text[pos] == pattern[p]) {
      ++pos;
    } else {
      break;
    }
  }
  return stored;
}

}  // namespace updater
