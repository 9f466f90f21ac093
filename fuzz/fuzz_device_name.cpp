// Arbitrary bytes as a device-directory entry name, and as two serial texts: libZIZUZ takes a
// name as a tracker's only when it follows its naming rule exactly, and what it reads from the
// name must rebuild it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "DeviceDirectory.h"

using namespace zizuz;

namespace {

constexpr std::string_view kPrefix = "usb-Veltorium_";
constexpr char kHex[] = "0123456789abcdef";

bool Digits(std::string_view text) {
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return !text.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(data), size);

  if (const std::optional<TDeviceName> parsed = ParseDeviceName(name)) {
    const std::string& serial = parsed->Serial;
    if (!Digits(serial) || serial.size() > kMaxSerialDigits || parsed->Interface > 0xFF ||
        name.substr(0, kPrefix.size()) != kPrefix) {
      __builtin_trap();
    }
    // prefix, a model of at least one character, '_', the serial, "-if" and the two digits
    // the interface was read from (in either case).
    const std::string tail = "_" + serial + "-if";
    const size_t tail_at = name.size() - 2 - tail.size();
    if (name.size() < kPrefix.size() + 1 + tail.size() + 2 || tail_at < kPrefix.size() + 1 ||
        name.substr(tail_at, tail.size()) != tail) {
      __builtin_trap();
    }
    std::string nn(name.substr(name.size() - 2));
    for (char& c : nn) {
      c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    }
    if (nn[0] != kHex[parsed->Interface >> 4] || nn[1] != kHex[parsed->Interface & 0xF]) {
      __builtin_trap();
    }
    if (!SameSerial(serial, serial) || !SameSerial(serial, "000" + serial)) {
      __builtin_trap();
    }
  }

  // Two serial texts: the first byte says where the first ends.
  if (size > 0) {
    const size_t split = std::min<size_t>(data[0], size - 1);
    const std::string_view a = name.substr(1, split);
    const std::string_view b = name.substr(1 + split);
    const bool same = SameSerial(a, b);
    if (same != SameSerial(b, a) || (same && (!Digits(a) || !Digits(b))) ||
        (Digits(a) && !SameSerial(a, a))) {
      __builtin_trap();
    }
  }
  return 0;
}
