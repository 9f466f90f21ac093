#pragma once
// Whether an image may be written into a device at all.

#include "DevEntry.h"
#include "FirmwareVersion.h"

namespace updater {

// True when the image suits the firmware line the device runs and its boot loader's
// generation. Families compare exactly, case included.
bool CheckCompatibility(const TDevEntry& device, const TFirmwareVersion& image_version);

}  // namespace updater
