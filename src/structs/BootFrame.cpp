#include "BootFrame.h"

#include <algorithm>

#include "FirmwareVersion.h"

namespace updater {

namespace {

constexpr size_t kTotalLengthOffset = 0;
constexpr size_t kHeaderLengthOffset = 2;
constexpr size_t kCodeOffset = 4;
constexpr size_t kSectorOffset = 6;
constexpr size_t kAddressOffset = 8;
constexpr size_t kChecksumOffset = 12;

void Put16(std::span<uint8_t> frame, size_t offset, uint16_t value) {
  frame[offset] = static_cast<uint8_t>(value);
  frame[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::span<uint8_t> frame, size_t offset, uint32_t value) {
  Put16(frame, offset, static_cast<uint16_t>(value));
  Put16(frame, offset + 2, static_cast<uint16_t>(value >> 16));
}

uint16_t Get16(std::span<const uint8_t> frame, size_t offset) {
  return static_cast<uint16_t>(frame[offset] | frame[offset + 1] << 8);
}

uint32_t Get32(std::span<const uint8_t> frame, size_t offset) {
  return Get16(frame, offset) | static_cast<uint32_t>(Get16(frame, offset + 2)) << 16;
}

// Fills the header of a zeroed frame (data already in place) and seals it with its checksum,
// taken while the checksum field is still zero.
void Seal(std::span<uint8_t> frame, uint16_t code, uint16_t sector, uint32_t address) {
  Put16(frame, kTotalLengthOffset, static_cast<uint16_t>(frame.size()));
  Put16(frame, kHeaderLengthOffset, static_cast<uint16_t>(kBootHeaderSize));
  Put16(frame, kCodeOffset, code);
  Put16(frame, kSectorOffset, sector);
  Put32(frame, kAddressOffset, address);
  Put16(frame, kChecksumOffset, Checksum16(frame.data(), static_cast<uint16_t>(frame.size())));
}

}  // namespace

TBootRequest BuildBootRequest(uint16_t code, uint16_t sector, uint32_t address) {
  TBootRequest frame{};
  Seal(frame, code, sector, address);
  return frame;
}

TBootWriteRequest BuildBootWriteRequest(uint16_t code, uint16_t sector, uint32_t address,
                                        std::span<const uint8_t, kBootDataSize> data) {
  TBootWriteRequest frame{};
  std::copy(data.begin(), data.end(), frame.begin() + kBootHeaderSize);
  Seal(frame, code, sector, address);
  return frame;
}

std::optional<TBootFrameHeader> ReadBootHeader(std::span<const uint8_t> frame) {
  if (frame.size() < kBootHeaderSize) {
    return std::nullopt;
  }
  TBootFrameHeader header;
  header.TotalLength = Get16(frame, kTotalLengthOffset);
  header.HeaderLength = Get16(frame, kHeaderLengthOffset);
  header.Code = Get16(frame, kCodeOffset);
  header.Sector = Get16(frame, kSectorOffset);
  header.Address = Get32(frame, kAddressOffset);
  header.Checksum = Get16(frame, kChecksumOffset);
  return header;
}

}  // namespace updater
