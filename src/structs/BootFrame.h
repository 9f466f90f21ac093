#pragma once
// The frames a boot loader speaks: a 14-byte header, and behind it 512 bytes of flash data in a
// write request or the payload of a query reply. The scan's identification and the write job
// both build their requests and read their replies here. Pure functions; any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace updater {

inline constexpr size_t kBootHeaderSize = 14;
inline constexpr size_t kBootDataSize = 512;
inline constexpr size_t kBootWriteFrameSize = kBootHeaderSize + kBootDataSize;

// Request codes.
inline constexpr uint16_t kBootEraseOld = 1;
inline constexpr uint16_t kBootWriteOld = 2;
inline constexpr uint16_t kBootQueryFirmware = 4;
inline constexpr uint16_t kBootQueryBootVersion = 5;
inline constexpr uint16_t kBootEraseNew = 6;
inline constexpr uint16_t kBootWriteNew = 7;
inline constexpr uint16_t kBootQueryProcessor = 10;
inline constexpr uint16_t kBootFinishSucceeded = 11;
inline constexpr uint16_t kBootFinishFailed = 12;

// The sector field of every request that names no sector (queries and finishing).
inline constexpr uint16_t kBootNoSector = 10;

// Reply codes; every other code is a refusal.
inline constexpr uint16_t kBootReplyDone = 0x0080;
inline constexpr uint16_t kBootReplyProtected = 131;
inline constexpr uint16_t kBootReplyLocked = 138;

using TBootRequest = std::array<uint8_t, kBootHeaderSize>;
using TBootWriteRequest = std::array<uint8_t, kBootWriteFrameSize>;

// The header fields of a frame, as they stand in the bytes.
struct TBootFrameHeader {
  uint16_t TotalLength = 0;
  uint16_t HeaderLength = 0;
  uint16_t Code = 0;
  uint16_t Sector = 0;
  uint32_t Address = 0;
  uint16_t Checksum = 0;
};

// A request without data (erase, query, finish), checksum included.
TBootRequest BuildBootRequest(uint16_t code, uint16_t sector, uint32_t address);
// A write request carrying one 512-byte part of the image, checksum included.
TBootWriteRequest BuildBootWriteRequest(uint16_t code, uint16_t sector, uint32_t address,
                                        std::span<const uint8_t, kBootDataSize> data);

// The header of a received frame; nothing when fewer than 14 bytes arrived. Only the bytes are
// read: whether the fields make sense (header length, code, echoes) is the caller's to judge.
std::optional<TBootFrameHeader> ReadBootHeader(std::span<const uint8_t> frame);

}  // namespace updater
