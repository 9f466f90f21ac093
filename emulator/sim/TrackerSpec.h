#pragma once
// Reads a tracker description of the command line: a comma list of key=value items such as
// "serial=1001,driver=ql,mode=boot,cpu=0x26013F37,protect=4:5,drop=3".

#include <string>

#include "TrackerConfig.h"

namespace updater::sim {

// False with a message naming the offending item when the text is not a valid description.
bool ParseTrackerSpec(const std::string& tracker_text, TrackerConfig& config, std::string& error);

// The keys and values ParseTrackerSpec understands, for the usage text.
extern const char* const kTrackerSpecHelp;

}  // namespace updater::sim
