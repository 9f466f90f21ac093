// The event log's last lines in fixed memory, for a handler that may not allocate.

#include "CrashLogRing.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "CrashReport.h"

namespace updater::crash {

namespace {

// A log line rarely passes a hundred characters; a longer one keeps its start.
constexpr std::size_t kSlotBytes = 480;

struct TSlot {
  char text[kSlotBytes];
  std::atomic<std::size_t> size;
};

TSlot g_slots[kLogLinesKept];
// Lines noted since the start; slot (n % kLogLinesKept) holds line n.
std::atomic<std::uint64_t> g_noted{0};

}  // namespace

void NoteLogLine(const char* line, std::size_t size) {
  const std::uint64_t n = g_noted.load(std::memory_order_relaxed);
  TSlot& slot = g_slots[n % kLogLinesKept];
  size = std::min(size, kSlotBytes);
  slot.size.store(0, std::memory_order_relaxed);
  std::memcpy(slot.text, line, size);
  slot.size.store(size, std::memory_order_release);
  g_noted.store(n + 1, std::memory_order_release);
}

void ForEachLogLine(void (*visit)(const char* text, std::size_t size, void* data), void* data) {
  const std::uint64_t noted = g_noted.load(std::memory_order_acquire);
  const std::uint64_t first = noted > kLogLinesKept ? noted - kLogLinesKept : 0;
  for (std::uint64_t n = first; n < noted; ++n) {
    const TSlot& slot = g_slots[n % kLogLinesKept];
    visit(slot.text, slot.size.load(std::memory_order_acquire), data);
  }
}

std::uint64_t LogLinesNoted() {
  return g_noted.load(std::memory_order_acquire);
}

}  // namespace updater::crash
