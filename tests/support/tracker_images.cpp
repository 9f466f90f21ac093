#include "tracker_images.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "EmbeddedImage.h"
#include "FirmwareBlock.h"
#include "scan_rig.h"

namespace tracker_images {

using namespace updater;

sim::TrackerConfig BootTracker(const std::string& serial, sim::DriverKind driver,
                               uint32_t processor_id, const std::string& boot) {
  sim::TrackerConfig config = discovery_test::Tracker(serial, driver, sim::TrackerMode::BootLoader);
  config.processorId = processor_id;
  config.bootVersion = boot;
  config.firmwareVersion = "ROZI-1.15";
  const uint32_t size = sim::SectorMapFor(processor_id, config.bootVersion).FlashSize();
  config.preload.resize(size);
  for (uint32_t i = 0; i < size; ++i) {
    config.preload[i] = static_cast<uint8_t>(0x5A ^ (i >> 9));
  }
  return config;
}

const std::vector<uint8_t>& EmbeddedPayload() {
  static const std::vector<uint8_t> payload = [] {
    std::optional<std::vector<uint8_t>> image = ReadEmbeddedImage();
    if (!image) {
      throw std::runtime_error("no embedded image");
    }
    TFirmwareVersion version;
    TFirmwareBlockList blocks;
    if (!ParseFirmwareImage(image->data(), image->size(), version, blocks, {}) ||
        blocks.size() != 1) {
      throw std::runtime_error("the embedded image does not pass its check");
    }
    return blocks[0]->Data;
  }();
  return payload;
}

std::vector<uint8_t> ExpectedFlash(const sim::SimSectorMap& map,
                                   const std::vector<uint8_t>& preload,
                                   const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> laid_out(map.FlashSize(), 0xFF);
  const uint32_t first = map.sectors.at(static_cast<size_t>(map.firstWritable)).address;
  if (first + payload.size() > laid_out.size()) {
    throw std::runtime_error("the image does not fit the map");
  }
  std::copy(payload.begin(), payload.end(), laid_out.begin() + first);
  const auto empty = [&](const sim::SimSector& sector) {
    return std::all_of(laid_out.begin() + sector.address,
                       laid_out.begin() + sector.address + sector.size,
                       [](uint8_t byte) { return byte == 0xFF; });
  };
  int last = map.lastWritable;
  while (last >= map.firstWritable && empty(map.sectors.at(static_cast<size_t>(last)))) {
    --last;
  }
  std::vector<uint8_t> expected = preload;
  expected.resize(laid_out.size(), 0xFF);
  for (int s = map.firstWritable; s <= last; ++s) {
    const sim::SimSector& sector = map.sectors.at(static_cast<size_t>(s));
    if (!empty(sector)) {
      std::copy(laid_out.begin() + sector.address, laid_out.begin() + sector.address + sector.size,
                expected.begin() + sector.address);
    }
  }
  return expected;
}

}  // namespace tracker_images
