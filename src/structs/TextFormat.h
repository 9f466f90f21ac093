#pragma once
// Text helpers shared by every layer: printf-style formatting into a buffer that grows as
// needed, and Windows-1251 at the edges (devices send it, the daily log file stores it).

#include <cstdarg>
#include <string>
#include <string_view>

namespace updater {

// printf into a std::string; the format attribute makes the compiler check every call.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// Bytes received from a device, read as Windows-1251, returned as UTF-8.
std::string Cp1251ToUtf8(std::string_view bytes);
// UTF-8 text as Windows-1251 bytes; characters the code page cannot hold become '?'.
std::string Utf8ToCp1251(std::string_view text);

}  // namespace updater
