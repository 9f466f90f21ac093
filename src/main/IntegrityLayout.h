#pragma once
// Where the build stamps the executable's own digest: a 16-byte marker followed by a 32-byte
// slot for the SHA-256 of the whole file, taken with the slot itself zeroed.
//
// The marker is a macro on purpose: it must appear exactly once in the executable (in the
// stamp array), and a named constant used by the check would put a second copy beside it.

#include <cstddef>

// Random bytes, so that no other data of the program can look like them.
#define UPDATER_INTEGRITY_MARKER \
  0x7e, 0x1d, 0xc4, 0x52, 0x9b, 0x03, 0xf6, 0x88, 0x2a, 0xe1, 0x5c, 0x37, 0xb0, 0x64, 0xd9, 0x0f

namespace updater {

inline constexpr size_t kIntegrityMarkerSize = 16;
inline constexpr size_t kIntegrityDigestSize = 32;
inline constexpr size_t kIntegrityStampSize = kIntegrityMarkerSize + kIntegrityDigestSize;

}  // namespace updater
