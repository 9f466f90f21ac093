#include "Compatibility.h"

#include <string>

namespace updater {

bool CheckCompatibility(const TDevEntry& device, const TFirmwareVersion& image_version) {
  const std::string& device_family = device.FirmwareVersion.Family;
  const std::string& image_family = image_version.Family;
  const unsigned boot = device.BootVersion.Number;
  const unsigned image = image_version.Number;

  // A boot loader older than 1.04 takes only firmware below 9.00, a newer one only 9.00 and up.
  if (device_family == "VTQL" || device_family == "ZOZI") {
    if ((boot < 104 && image >= 900) || (boot >= 104 && image < 900)) {
      return false;
    }
  }
  // The same line, the two sister lines, a device without valid firmware ("unk" or nothing
  // reported), or the Wi-Fi line moving to its successor from 3.04 on.
  return device_family == image_family || (device_family == "VTQL" && image_family == "ZOZI") ||
         (device_family == "ZOZI" && image_family == "VTQL") || device_family.empty() ||
         device_family == "unk" ||
         (device_family == "WIFI" && image_family == "VTWF" && image >= 304);
}

}  // namespace updater
