#pragma once
// Everything that makes one virtual tracker what it is: identity, versions, processor, initial
// flash contents, and the faults it is told to show.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace updater::sim {

enum class DriverKind { Maker, Ftdi };
enum class TrackerMode { Firmware, BootLoader };

// How the firmware answers "START_BOOT_LOADER".
enum class StartReply { Started, Error, LowerCase, Garbage, Silent };
// How the firmware answers "FL_READ_VERSION$": its text, only 7 bytes of it, or nothing.
enum class VersionReply { Full, Short, Silent };

// Request numbers count the boot-loader frames a tracker received over its whole life,
// starting at 1 and including the queries; text commands are not counted.
struct TrackerFaults {
  std::set<int> protectErase;        // sectors answered with 131 to an erase, left unchanged
  std::set<int> protectWrite;        // sectors answered with 131 to a write, left unchanged
  bool locked = false;               // every erase is answered with 138 and not performed
  std::map<int, uint16_t> refuseAt;  // request number -> reply code, request not performed
  std::set<int> dropAt;              // request performed, its reply never sent
  std::map<int, size_t> truncateAt;  // request performed, only the first K reply bytes sent
  std::set<int> wrongSectorAt;       // reply echoes sector + 1
  std::set<int> wrongAddressAt;      // reply echoes address + 512
  std::set<int> duplicateAt;         // reply sent twice, as to a request that came twice
  int delayMs = 0;                   // every reply is sent this late
  int paceMs = 0;       // at most one request answered in this time; a later one at once
  int vanishAfter = 0;  // after answering this request the tracker is withdrawn
  StartReply start = StartReply::Started;
  VersionReply version = VersionReply::Full;
};

struct TrackerConfig {
  std::string serial;
  DriverKind driver = DriverKind::Maker;
  std::string description = "Veltorium";  // FTDI kind only
  TrackerMode mode = TrackerMode::BootLoader;
  std::string firmwareVersion = "ROZI-1.15";
  std::string bootVersion = "BOOT-1.05";
  uint32_t processorId = 0x26013F37;
  std::vector<uint8_t> preload;  // copied to flash from address 0; the rest stays 0xFF
  TrackerFaults faults;
};

}  // namespace updater::sim
