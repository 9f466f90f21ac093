#include "CommandSet.h"

#include "SectorMap.h"

namespace updater {

bool UsesNewerCommands(uint32_t processor_id, const TFirmwareVersion& boot_version,
                       const TFirmwareVersion& image_version) {
  // Boot loaders 1.04 and later of the VTQL line learnt the newer commands too.
  return IsListedProcessor(processor_id) ||
         (image_version.Family == "VTQL" && boot_version.Number >= 104);
}

}  // namespace updater
