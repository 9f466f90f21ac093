#pragma once
// Which entries of the device directory are the maker's trackers, and what their names say.
//
// The rule: usb-Veltorium_<model>_<serial>-if<NN>, where <model> is any non-empty text,
// <serial> is 1 to 20 decimal digits (the list record holds 20 and a NUL) and <NN> is the
// interface number as two hexadecimal digits, as udev writes it. The entry must lead to a
// character device that is a tty; dangling links and other files are skipped.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zizuz {

inline constexpr size_t kMaxSerialDigits = 20;

struct TDeviceName {
  std::string Serial;      // digits as written in the name
  uint16_t Interface = 0;  // NN
};

std::optional<TDeviceName> ParseDeviceName(std::string_view name);

// Two serial texts name the same device when their numbers are equal ("0042" and "42").
bool SameSerial(std::string_view a, std::string_view b);

struct TListedDevice {
  std::string Path;  // directory entry (a link, usually)
  TDeviceName Name;
};

// $ZIZUZ_DEVICE_DIR, or /dev/serial/by-id.
std::string DeviceDirectory();

// The trackers in dir, ordered by entry name; an unreadable or missing dir lists none.
std::vector<TListedDevice> ListDevices(const std::string& dir);

}  // namespace zizuz
