#pragma once
// The tracker's own frame checksum, written from the protocol text and kept apart from the
// program's code so that one wrong reading cannot hide in both sides.

#include <cstddef>
#include <cstdint>

namespace updater::sim {

// Sum of little-endian 16-bit words with end-around carry, not complemented; an odd last byte
// counts as if a zero byte followed it.
uint16_t SimChecksum(const uint8_t* data, size_t length);

}  // namespace updater::sim
