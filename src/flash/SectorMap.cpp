#include "SectorMap.h"

#include <array>
#include <cstddef>

namespace updater {

namespace {

template <size_t N, typename Layout>
constexpr std::array<TSector, N> MakeSectors(Layout layout) {
  std::array<TSector, N> sectors{};
  for (size_t n = 0; n < N; ++n) {
    sectors[n] = layout(static_cast<uint32_t>(n));
  }
  return sectors;
}

constexpr TSector Small(uint32_t address) {
  return {address, 4096};
}
constexpr TSector Large(uint32_t address) {
  return {address, 32768};
}

// Sixteen small sectors, then large ones from 0x10000.
constexpr TSector SmallThenLarge(uint32_t n) {
  return n < 16 ? Small(n * 4096) : Large(0x10000 + (n - 16) * 32768);
}

// Eight small sectors, fourteen large ones from 0x8000, then small ones again from 0x78000.
constexpr TSector SmallLargeSmall(uint32_t n) {
  if (n < 8) {
    return Small(n * 4096);
  }
  if (n < 22) {
    return Large(0x8000 + (n - 8) * 32768);
  }
  return Small(0x78000 + (n - 22) * 4096);
}

constexpr auto kSectors64 = MakeSectors<64>([](uint32_t n) { return Small(n * 4096); });
constexpr auto kSectors22 = MakeSectors<22>(SmallThenLarge);
constexpr auto kSectors30 = MakeSectors<30>(SmallThenLarge);
constexpr auto kSectors256 = MakeSectors<256>([](uint32_t n) {
  return TSector{0x4400 + n * 512, 512};
});
constexpr auto kSectors27 = MakeSectors<27>(SmallLargeSmall);
constexpr auto kSectors28 = MakeSectors<28>(SmallLargeSmall);

constexpr TSectorMap kMap64{kSectors64, 4, 63};
constexpr TSectorMap kMap22{kSectors22, 10, 21};
constexpr TSectorMap kMap30{kSectors30, 10, 29};
constexpr TSectorMap kMap256{kSectors256, 0, 255};
constexpr TSectorMap kMap27{kSectors27, 4, 26};
constexpr TSectorMap kMap28{kSectors28, 4, 27};

// Sectors follow one another without gaps, the writable range lies inside the table, and no
// map outgrows the bound a job's flash image is allocated by.
constexpr bool WellFormed(const TSectorMap& map) {
  for (size_t n = 1; n < map.Sectors.size(); ++n) {
    if (map.Sectors[n].Address != map.Sectors[n - 1].Address + map.Sectors[n - 1].Size) {
      return false;
    }
  }
  for (const TSector& sector : map.Sectors) {
    if (sector.Size == 0 || sector.Size % 512 != 0) {
      return false;
    }
  }
  return map.FirstSector >= 0 && map.FirstSector <= map.LastSector &&
         static_cast<size_t>(map.LastSector) < map.Sectors.size() &&
         map.WritableEnd() <= kMaxFlashImageSize;
}
static_assert(WellFormed(kMap64) && WellFormed(kMap22) && WellFormed(kMap30) &&
              WellFormed(kMap256) && WellFormed(kMap27) && WellFormed(kMap28));
static_assert(kMap30.WritableEnd() == kMaxFlashImageSize);

struct TProcessorMap {
  uint32_t ProcessorId;
  const TSectorMap* Map;
};

constexpr std::array<TProcessorMap, 11> kProcessorMaps{{
    {0x10040204, &kMap64},
    {0x25011723, &kMap22},
    {0x26013733, &kMap22},
    {0x26013F33, &kMap22},
    {0x25013F37, &kMap30},
    {0x25113737, &kMap30},
    {0x26012837, &kMap30},
    {0x26013F37, &kMap30},
    {0x26113F37, &kMap30},
    {0x27193F47, &kMap30},
    {0x400FE000, &kMap256},
}};

const TSectorMap* ListedMap(uint32_t processor_id) {
  for (const TProcessorMap& entry : kProcessorMaps) {
    if (entry.ProcessorId == processor_id) {
      return entry.Map;
    }
  }
  return nullptr;
}

}  // namespace

TSectorMapChoice ChooseSectorMap(uint32_t processor_id, std::string_view boot_suffix) {
  if (const TSectorMap* map = ListedMap(processor_id)) {
    return {map, true};
  }
  const bool without_last = boot_suffix == "TR" || boot_suffix == "PP";
  return {without_last ? &kMap27 : &kMap28, false};
}

bool IsListedProcessor(uint32_t processor_id) {
  return ListedMap(processor_id) != nullptr;
}

}  // namespace updater
