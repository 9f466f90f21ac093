#pragma once
// The firmware image the program carries inside its executable (resource ":/FRMV").

#include <cstdint>
#include <optional>
#include <vector>

namespace updater {

inline constexpr char kEmbeddedImagePath[] = ":/FRMV";

// The image's bytes; nothing when the resource is missing, empty or cannot be read whole.
// Any thread (the resource is read-only).
std::optional<std::vector<uint8_t>> ReadEmbeddedImage();

}  // namespace updater
