#pragma once
// Boot-loader frames as the tracker sees them: the 14-byte header every request and reply
// starts with, and the replies the tracker builds.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace updater::sim {

constexpr size_t kFrameHeaderSize = 14;
constexpr size_t kFramePartSize = 512;
constexpr size_t kWriteFrameSize = kFrameHeaderSize + kFramePartSize;
// Largest total length the tracker waits for; anything claiming more is noise.
constexpr size_t kMaxFrameSize = 1024;

constexpr uint16_t kReplyDone = 128;
constexpr uint16_t kReplyProtected = 131;
constexpr uint16_t kReplyLocked = 138;
// The tracker's own refusal codes; the program treats every one of them as "refused".
constexpr uint16_t kReplyBadChecksum = 129;
constexpr uint16_t kReplyBadLength = 130;
constexpr uint16_t kReplyUnknownRequest = 132;
constexpr uint16_t kReplyBadSector = 133;
constexpr uint16_t kReplyNotErased = 134;

struct SimHeader {
  uint16_t totalLength = 0;
  uint16_t headerLength = 0;
  uint16_t code = 0;
  uint16_t sector = 0;
  uint32_t address = 0;
  uint16_t checksum = 0;
};

uint16_t ReadLe16(const uint8_t* p);
uint32_t ReadLe32(const uint8_t* p);

// The caller guarantees at least kFrameHeaderSize bytes.
SimHeader ReadHeader(std::span<const uint8_t> frame);

// True when the checksum field equals the sum over the whole frame taken with that field zero.
bool ChecksumMatches(std::span<const uint8_t> frame);

std::vector<uint8_t> BuildReply(uint16_t code, uint16_t sector, uint32_t address,
                                std::span<const uint8_t> payload);

}  // namespace updater::sim
