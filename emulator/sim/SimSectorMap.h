#pragma once
// The flash layout a tracker has, chosen by its processor identifier and, for processors the
// maps do not name, by the suffix of its boot-loader version.

#include <cstdint>
#include <string>
#include <vector>

namespace updater::sim {

struct SimSector {
  uint32_t address = 0;
  uint32_t size = 0;
};

struct SimSectorMap {
  std::vector<SimSector> sectors;
  int firstWritable = 0;
  int lastWritable = 0;
  // The processors the maps name by identifier speak only the newer erase/write requests.
  bool knownProcessor = false;

  // Bytes from address 0 to the end of the last sector.
  uint32_t FlashSize() const;
};

SimSectorMap SectorMapFor(uint32_t processorId, const std::string& bootSuffix);

}  // namespace updater::sim
