#include "TrackerInput.h"

#include <algorithm>

#include "SimFrame.h"

namespace updater::sim {

const std::string kReadVersionCommand = "FL_READ_VERSION$";
const std::string kStartBootLoaderCommand = "START_BOOT_LOADER";

void TrackerInput::Append(std::span<const uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<std::vector<uint8_t>> TrackerInput::NextFrame() {
  while (!buffer_.empty()) {
    bool plausible = true;
    if (buffer_.size() >= 2) {
      uint16_t total = ReadLe16(buffer_.data());
      plausible = total >= kFrameHeaderSize && total <= kMaxFrameSize;
    }
    if (plausible && buffer_.size() >= 4) {
      plausible = ReadLe16(buffer_.data() + 2) == kFrameHeaderSize;
    }
    if (!plausible) {
      buffer_.erase(buffer_.begin());
      continue;
    }
    if (buffer_.size() < 4) {
      return std::nullopt;
    }
    size_t total = ReadLe16(buffer_.data());
    if (buffer_.size() < total) {
      return std::nullopt;
    }
    std::vector<uint8_t> frame(buffer_.begin(), buffer_.begin() + static_cast<long>(total));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(total));
    return frame;
  }
  return std::nullopt;
}

std::optional<std::string> TrackerInput::NextCommand() {
  while (!buffer_.empty()) {
    bool couldStart = false;
    for (const std::string* command : {&kReadVersionCommand, &kStartBootLoaderCommand}) {
      size_t n = std::min(buffer_.size(), command->size());
      if (!std::equal(buffer_.begin(), buffer_.begin() + static_cast<long>(n), command->begin())) {
        continue;
      }
      if (n == command->size()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(n));
        return *command;
      }
      couldStart = true;
    }
    if (couldStart) {
      return std::nullopt;
    }
    buffer_.erase(buffer_.begin());
  }
  return std::nullopt;
}

}  // namespace updater::sim
