#pragma once
// Flash layouts of the tracker processors: where each sector lies, how large it is and which
// sectors a job may write. The tables are fixed at build time and shared read-only by every
// thread.

#include <cstdint>
#include <span>
#include <string_view>

namespace updater {

struct TSector {
  uint32_t Address;  // byte offset in the device's flash, also the index into a job's Image
  uint16_t Size;     // a multiple of 512
};

struct TSectorMap {
  std::span<const TSector> Sectors;
  int32_t FirstSector;  // the writable range, both ends included
  int32_t LastSector;

  // One past the last byte of the last writable sector: the size of a job's flash image.
  constexpr uint32_t WritableEnd() const {
    const TSector& last = Sectors[static_cast<size_t>(LastSector)];
    return last.Address + last.Size;
  }
};

// The largest WritableEnd() of all maps; a job's flash image never grows beyond it.
inline constexpr uint32_t kMaxFlashImageSize = 0x80000;

struct TSectorMapChoice {
  const TSectorMap* Map;
  bool KnownProcessor;  // false: chosen by the boot loader's suffix, the identifier is unlisted
};

// The map of a device by the processor identifier its boot loader reported; an unlisted
// identifier falls back to the suffix of the boot-loader version ("TR" and "PP" have no
// sector 27).
TSectorMapChoice ChooseSectorMap(uint32_t processor_id, std::string_view boot_suffix);

// True for the identifiers that have a map of their own (they all speak the newer commands).
bool IsListedProcessor(uint32_t processor_id);

}  // namespace updater
