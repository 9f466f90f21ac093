#pragma once
// Reads decimal numbers out of short texts the way the C library's scanf reads "%d", without
// its undefined behaviour on overflow: a number too large for 32 bits wraps modulo 2^32.

#include <cstdint>
#include <span>
#include <string_view>

namespace updater {

// Matches text against pattern and stores the numbers read, in order, into out. In the
// pattern "%d" reads an integer (leading blanks and one sign allowed, at least one digit), a
// blank matches any run of blanks in the text (none included), and every other character
// matches itself. Stops at the first mismatch, at the end of the text or when out is full;
// returns how many numbers were stored. What follows the pattern in the text is ignored.
size_t ScanDecimals(std::string_view text, std::string_view pattern, std::span<int32_t> out);

}  // namespace updater
