#pragma once
// Which generation of erase and write requests a boot loader understands.

#include <cstdint>

#include "FirmwareVersion.h"

namespace updater {

// True: the newer erase and write requests (6, 7); false: the older ones (1, 2). Depends only on
// what the device reported and on the image, so it stays the same for a whole job.
bool UsesNewerCommands(uint32_t processor_id, const TFirmwareVersion& boot_version,
                       const TFirmwareVersion& image_version);

}  // namespace updater
