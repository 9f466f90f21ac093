#include "SimFrame.h"

#include "SimChecksum.h"

namespace updater::sim {

namespace {
void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, static_cast<uint16_t>(v));
  PutLe16(p + 2, static_cast<uint16_t>(v >> 16));
}
}  // namespace

uint16_t ReadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(ReadLe16(p)) | (static_cast<uint32_t>(ReadLe16(p + 2)) << 16);
}

SimHeader ReadHeader(std::span<const uint8_t> frame) {
  const uint8_t* p = frame.data();
  SimHeader h;
  h.totalLength = ReadLe16(p);
  h.headerLength = ReadLe16(p + 2);
  h.code = ReadLe16(p + 4);
  h.sector = ReadLe16(p + 6);
  h.address = ReadLe32(p + 8);
  h.checksum = ReadLe16(p + 12);
  return h;
}

bool ChecksumMatches(std::span<const uint8_t> frame) {
  if (frame.size() < kFrameHeaderSize) {
    return false;
  }
  std::vector<uint8_t> copy(frame.begin(), frame.end());
  copy[12] = 0;
  copy[13] = 0;
  return SimChecksum(copy.data(), copy.size()) == ReadLe16(frame.data() + 12);
}

std::vector<uint8_t> BuildReply(uint16_t code, uint16_t sector, uint32_t address,
                                std::span<const uint8_t> payload) {
  std::vector<uint8_t> reply(kFrameHeaderSize + payload.size(), 0);
  PutLe16(reply.data(), static_cast<uint16_t>(reply.size()));
  PutLe16(reply.data() + 2, static_cast<uint16_t>(kFrameHeaderSize));
  PutLe16(reply.data() + 4, code);
  PutLe16(reply.data() + 6, sector);
  PutLe32(reply.data() + 8, address);
  for (size_t i = 0; i < payload.size(); ++i) {
    reply[kFrameHeaderSize + i] = payload[i];
  }
  PutLe16(reply.data() + 12, SimChecksum(reply.data(), reply.size()));
  return reply;
}

}  // namespace updater::sim
