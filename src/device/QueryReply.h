#pragma once
// What identification makes of the bytes a tracker sends back: the acceptance rule of a
// boot-loader query reply and its payloads, the firmware's version answer and its answer to
// the boot-loader start. Pure functions on a bounded buffer, so they can be fed anything.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "FirmwareVersion.h"

namespace updater {

// A reply buffer: zero-filled, with room for one more zero byte behind the capacity, so every
// text inside it ends by the end of the buffer at the latest.
template <uint32_t CapacityBytes>
struct TReplyBuffer {
  static constexpr uint32_t kCapacity = CapacityBytes;
  std::array<uint8_t, CapacityBytes + 1> Bytes{};
  size_t Received = 0;  // never more than kCapacity

  // Records a count reported by the channel, bounded by what the buffer holds.
  void SetReceived(int64_t count) {
    Received = count <= 0 ? 0 : static_cast<size_t>(std::min<int64_t>(count, kCapacity));
  }
  std::span<const uint8_t> Reply() const { return {Bytes.data(), Received}; }
  std::span<const uint8_t> Whole() const { return {Bytes.data(), Bytes.size()}; }
};

inline constexpr uint32_t kFrameReplyCapacity = 1024;
inline constexpr uint32_t kVersionReplyCapacity = 100;
inline constexpr uint32_t kStartReplyCapacity = 1024;
inline constexpr size_t kMinVersionReply = 8;

using TFrameReply = TReplyBuffer<kFrameReplyCapacity>;
using TVersionReply = TReplyBuffer<kVersionReplyCapacity>;
using TStartReplyBuffer = TReplyBuffer<kStartReplyCapacity>;

// The payload of an accepted query reply: at least a header was received, its header length
// is 14, its code 128 and its total length above 14. The payload runs from byte 14 to the end
// of the zero-filled buffer; nothing else of the reply is checked.
std::optional<std::span<const uint8_t>> AcceptedPayload(const TFrameReply& reply);

// A payload's text up to its first zero byte, decoded from Windows-1251.
std::string PayloadText(std::span<const uint8_t> payload);
// A payload's first four bytes as a little-endian number (missing bytes count as zero).
uint32_t PayloadWord(std::span<const uint8_t> payload);

// The firmware's answer to "FL_READ_VERSION$": usable when at least 8 bytes arrived and
// parse to a non-zero version number. The record is parsed in any case of 8 bytes or more.
bool TakeFirmwareVersion(const TVersionReply& reply, TFirmwareVersion& version);

enum class TStartAnswer { None, Started, StartError, Unknown };
// The leading bytes decide: "STARTED" or "START ERROR", exact and case-sensitive.
TStartAnswer ClassifyStartReply(std::span<const uint8_t> reply);
// The reply as text for the log: up to its first zero byte, decoded from Windows-1251.
std::string ReplyText(std::span<const uint8_t> reply);

}  // namespace updater
