#pragma once
// Which generation of erase and write requests a boot loader understands.

#include <cstdint>

#include "FirmwareVersion.h"

namespace updater {

inline constexpr uint16_t kEraseOlder = 1;
inline constexpr uint16_t kWriteOlder = 2;
inline constexpr uint16_t kEraseNewer = 6;
inline constexpr uint16_t kWriteNewer = 7;

// True: erase 6 and write 7; false: erase 1 and write 2. Depends only on what the device
// reported and on the image, so it stays the same for a whole job.
bool UsesNewerCommands(uint32_t processor_id, const TFirmwareVersion& boot_version,
                       const TFirmwareVersion& image_version);

}  // namespace updater
