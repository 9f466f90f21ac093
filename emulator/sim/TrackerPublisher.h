#pragma once
// Makes a tracker visible to the driver libraries the way a plugged-in device is, and takes
// it away again. Maker's kind: a link "usb-Veltorium_Tracker_<serial>-if00" to its pty in the
// maker's device directory. FTDI kind: "<serial>.desc" with the description, then the socket
// "<serial>", in the stand-in D2XX's directory. Entries appear atomically (a hidden temporary
// renamed into place); withdrawing removes the entry before the description.

#include <string>

#include "TrackerConfig.h"

namespace updater::sim {

struct PublishDirs {
  std::string zizuzDir;
  std::string ftdiDir;
};

// Directories from the environment, else the usual places.
PublishDirs DefaultPublishDirs();

// The path of the entry that represents the tracker (the link, or the socket).
std::string EntryPath(const PublishDirs& dirs, const TrackerConfig& config);

// Creates the directory if needed; false with a reason when the entry could not be made.
// devicePath is the pty the maker's link leads to, or the FTDI kind's bound socket file, which
// is moved to the entry.
bool Publish(const PublishDirs& dirs, const TrackerConfig& config, const std::string& devicePath,
             std::string& error);
void Withdraw(const PublishDirs& dirs, const TrackerConfig& config);

}  // namespace updater::sim
