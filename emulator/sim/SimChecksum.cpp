#include "SimChecksum.h"

namespace updater::sim {

namespace {
uint32_t AddWithCarry(uint32_t sum, uint32_t word) {
  sum += word;
  return (sum & 0xFFFFu) + (sum >> 16);
}
}  // namespace

uint16_t SimChecksum(const uint8_t* data, size_t length) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < length; i += 2) {
    sum = AddWithCarry(sum,
                       static_cast<uint32_t>(data[i]) | (static_cast<uint32_t>(data[i + 1]) << 8));
  }
  if (i < length) {
    sum = AddWithCarry(sum, data[i]);
  }
  return static_cast<uint16_t>(sum);
}

}  // namespace updater::sim
