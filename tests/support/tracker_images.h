#pragma once
// Trackers with a known flash and what their flash must hold after a job with the embedded
// image: shared by the tests that run whole jobs (through the session or the window).

#include <cstdint>
#include <string>
#include <vector>

#include "SimSectorMap.h"
#include "TrackerConfig.h"

namespace tracker_images {

// A tracker in its boot loader with ROZI firmware on the map of processor_id and boot-loader
// suffix, its flash filled with a pattern (so that untouched bytes can be told from erased).
updater::sim::TrackerConfig BootTracker(const std::string& serial, updater::sim::DriverKind driver,
                                        uint32_t processor_id = 0x26013F37,
                                        const std::string& boot = "BOOT-1.05");

// The embedded image's payload, as the image check hands it to a job.
const std::vector<uint8_t>& EmbeddedPayload();

// What a tracker's flash holds after a successful job, by the tracker's own sector map: the
// payload at the first writable sector wherever a sector up to the payload's last non-empty
// one holds data; the tracker's preload everywhere else (empty sectors are skipped, sectors
// past the image are not part of the job).
std::vector<uint8_t> ExpectedFlash(const updater::sim::SimSectorMap& map,
                                   const std::vector<uint8_t>& preload,
                                   const std::vector<uint8_t>& payload);

}  // namespace tracker_images
