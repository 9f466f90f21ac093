#pragma once
// The system's millisecond tick: a monotonic clock, so time-outs survive clock changes.

#include <chrono>
#include <cstdint>

namespace updater {

inline uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace updater
