#pragma once
// How a write job ended. The end handler turns the code into the panel's message.

#include <cstdint>

namespace updater {

inline constexpr int32_t kWriteSucceeded = 0;
inline constexpr int32_t kWriteLoadFailed = 1;    // the image could not be loaded
inline constexpr int32_t kWriteNoSectorMap = 2;   // the sector map is unusable
inline constexpr int32_t kWriteBlockOutside = 3;  // an image block ends beyond the flash image
inline constexpr int32_t kWriteNoData = 4;        // every writable sector would stay erased
inline constexpr int32_t kWriteEraseFailed = 5;   // an erase request failed
inline constexpr int32_t kWriteWriteFailed = 6;   // a write request failed
inline constexpr int32_t kWriteIncompatible = 9;  // the image does not suit the device
// The job stopped before every sector was handled: the device vanished, its channel could not
// be opened, or the program is shutting down.
inline constexpr int32_t kWriteInterrupted = 10;

}  // namespace updater
