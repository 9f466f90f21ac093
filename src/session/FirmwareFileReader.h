#pragma once
// Reads an image file for the image check without ever holding more of it than the largest
// image that could pass that check, and without sharing it while it is read.
//
// Threads: any; the caller owns the result.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FirmwareBlock.h"

namespace updater {

struct TFirmwareFile {
  enum TStatus {
    kNotFound,    // no such name, or a folder
    kUnreadable,  // cannot be opened, locked by another opener, or read short
    kTooLarge,    // longer than any image that could pass the check; Bytes stays empty
    kRead,        // Bytes holds the whole file
  };
  TStatus Status = kNotFound;
  std::vector<uint8_t> Bytes;
  // kTooLarge only: the file's length word names its real length. False for a stream (a
  // device, a pipe) whose length is not known.
  bool LengthWordMatches = false;
};

// Opens path for reading with an exclusive, non-blocking flock (an open fails when another
// process holds one; the lock goes with the close), reads at most limit + 1 bytes and closes
// it. A regular file longer than limit is not read beyond its length word; other files (devices,
// pipes) are read until their end or until they have given more than limit bytes.
TFirmwareFile ReadFirmwareFile(const std::string& path, size_t limit = kMaxFirmwareImageSize);

}  // namespace updater
