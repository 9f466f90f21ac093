#pragma once
// Writes what a tracker holds to files for comparison: "<serial>.flash" (the whole flash from
// address 0, raw bytes) and "<serial>.log" (one line per request received).

#include <string>

#include "Tracker.h"

namespace updater::sim {

// A request in one short line: what it was and how it was answered.
std::string RequestSummary(const RequestRecord& record);
// The summary followed by the request's bytes in hex, as the log file holds it.
std::string RequestLine(const RequestRecord& record);

// Creates the directory if needed; false with a reason on failure.
bool DumpTracker(const Tracker& tracker, const std::string& dir, std::string& error);

}  // namespace updater::sim
