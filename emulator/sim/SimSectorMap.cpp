#include "SimSectorMap.h"

#include <algorithm>
#include <array>

namespace updater::sim {

namespace {

void AddRun(SimSectorMap& map, int count, uint32_t start, uint32_t size) {
  for (int i = 0; i < count; ++i) {
    map.sectors.push_back({start + static_cast<uint32_t>(i) * size, size});
  }
}

// 4 KiB sectors from 0, then 32 KiB sectors from 0x10000.
SimSectorMap SmallThenLarge(int largeCount, int firstWritable) {
  SimSectorMap map;
  AddRun(map, 16, 0, 4096);
  AddRun(map, largeCount, 0x10000, 32768);
  map.firstWritable = firstWritable;
  map.lastWritable = static_cast<int>(map.sectors.size()) - 1;
  map.knownProcessor = true;
  return map;
}

SimSectorMap Fallback(bool withSector27) {
  SimSectorMap map;
  AddRun(map, 8, 0, 4096);
  AddRun(map, 14, 0x8000, 32768);
  AddRun(map, 5, 0x78000, 4096);
  if (withSector27) {
    map.sectors.push_back({0x7D000, 4096});
  }
  map.firstWritable = 4;
  map.lastWritable = static_cast<int>(map.sectors.size()) - 1;
  return map;
}

constexpr std::array<uint32_t, 3> kTwentyTwoSectorIds = {0x25011723, 0x26013733, 0x26013F33};
constexpr std::array<uint32_t, 6> kThirtySectorIds = {0x25013F37, 0x25113737, 0x26012837,
                                                      0x26013F37, 0x26113F37, 0x27193F47};

template <size_t N>
bool Contains(const std::array<uint32_t, N>& ids, uint32_t id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

}  // namespace

uint32_t SimSectorMap::FlashSize() const {
  uint32_t end = 0;
  for (const SimSector& s : sectors) {
    end = std::max(end, s.address + s.size);
  }
  return end;
}

SimSectorMap SectorMapFor(uint32_t processorId, const std::string& bootSuffix) {
  if (processorId == 0x10040204) {
    SimSectorMap map;
    AddRun(map, 64, 0, 4096);
    map.firstWritable = 4;
    map.lastWritable = 63;
    map.knownProcessor = true;
    return map;
  }
  if (Contains(kTwentyTwoSectorIds, processorId)) {
    return SmallThenLarge(6, 10);
  }
  if (Contains(kThirtySectorIds, processorId)) {
    return SmallThenLarge(14, 10);
  }
  if (processorId == 0x400FE000) {
    SimSectorMap map;
    AddRun(map, 256, 0x4400, 512);
    map.firstWritable = 0;
    map.lastWritable = 255;
    map.knownProcessor = true;
    return map;
  }
  return Fallback(!(bootSuffix == "TR" || bootSuffix == "PP"));
}

}  // namespace updater::sim
