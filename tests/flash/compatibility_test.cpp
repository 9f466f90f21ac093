#include <gtest/gtest.h>

#include "Compatibility.h"

using namespace updater;

namespace {

struct CompatCase {
  const char* device_family;  // "unk": the boot loader reported no valid firmware
  uint16_t boot;              // boot-loader Number, major * 100 + minor
  const char* image_family;
  uint16_t image;
  bool compatible;
};

TEST(Compatibility, RuleOfBootGenerationThenFamilies) {
  const CompatCase cases[] = {
      // Boot-loader generation decides for the VTQL and ZOZI lines before the families do.
      {"ZOZI", 103, "VTQL", 900, false},
      {"ZOZI", 103, "VTQL", 899, true},
      {"VTQL", 104, "VTQL", 899, false},
      {"VTQL", 104, "VTQL", 900, true},
      {"VTQL", 104, "ZOZI", 900, true},
      {"VTQL", 103, "VTQL", 900, false},
      {"ZOZI", 200, "ZOZI", 100, false},
      // Other lines ignore the generation.
      {"ROZI", 103, "ROZI", 950, true},
      {"ROZI", 104, "ROZI", 116, true},
      // Families: exact and case-sensitive; the sister rule is only VTQL <-> ZOZI.
      {"ROZI", 100, "rozi", 116, false},
      {"ROZI", 100, "VTQL", 116, false},
      {"VTWF", 100, "WIFI", 310, false},
      {"ZOZI", 100, "zozi", 100, false},
      // The Wi-Fi line moves to its successor only from 3.04.
      {"WIFI", 100, "VTWF", 303, false},
      {"WIFI", 100, "VTWF", 304, true},
      {"WIFI", 100, "WIFI", 100, true},
      // A device without valid firmware, or that named no family, takes anything, whatever
      // its boot loader.
      {"unk", 103, "VTQL", 900, true},
      {"unk", 104, "XXXX", 1, true},
      {"", 0, "VTQL", 900, true},
      {"UNK", 100, "ROZI", 116, false},
  };
  for (const CompatCase& c : cases) {
    TDevEntry device("1", 0, 0);
    device.FirmwareVersion.Family = c.device_family;
    device.FirmwareVersion.Number = 100;
    device.BootVersion.Family = "BOOT";
    device.BootVersion.Number = c.boot;
    TFirmwareVersion image;
    image.Family = c.image_family;
    image.Number = c.image;
    EXPECT_EQ(CheckCompatibility(device, image), c.compatible)
        << c.device_family << " / boot " << c.boot << " / " << c.image_family << " " << c.image;
  }
}

}  // namespace
