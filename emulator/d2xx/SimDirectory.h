#pragma once
// The FTDI-kind virtual trackers that tracker-sim publishes in $FTD2XX_SIM_DIR (default
// /tmp/ftd2xx-sim): for each device a Unix-domain socket named by its serial number (or a link
// to one), and a file "<serial>.desc" holding its description. A device without a .desc file is
// held by another driver, as the kernel's ftdi_sio holds every FTDI chip on Linux: listed as
// opened (flag bit 0) with no serial number or description, and not openable.

#include <cstdint>
#include <string>
#include <vector>

namespace d2xxsim {

inline constexpr size_t kSerialField = 16;       // node field, NUL included
inline constexpr size_t kDescriptionField = 64;  // node field, NUL included

struct TSimDevice {
  std::string Serial;
  std::string Description;
  std::string Path;          // the socket to connect to
  bool HeldByOther = false;  // no .desc file
  uint32_t Location = 0;     // stands for the USB port: the same for the same entry name
};

std::string SimDirectory();

// Devices whose entry is (or leads to) a socket, ordered by serial number. Names too long
// for the node's serial field and dangling links are skipped.
std::vector<TSimDevice> ListSimDevices(const std::string& dir);

}  // namespace d2xxsim
