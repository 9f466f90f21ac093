#include "QueryReply.h"

#include <algorithm>
#include <string_view>

#include "BootFrame.h"
#include "TextFormat.h"

namespace updater {

namespace {

std::string_view UpToZero(std::span<const uint8_t> bytes) {
  const auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
  return {reinterpret_cast<const char*>(bytes.data()),
          static_cast<size_t>(std::distance(bytes.begin(), end))};
}

bool StartsWith(std::span<const uint8_t> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                    [](char c, uint8_t b) { return static_cast<uint8_t>(c) == b; });
}

}  // namespace

std::optional<std::span<const uint8_t>> AcceptedPayload(const TFrameReply& reply) {
  const auto header = ReadBootHeader(reply.Reply());
  if (!header || header->HeaderLength != kBootHeaderSize || header->Code != kBootReplyDone ||
      header->TotalLength <= kBootHeaderSize) {
    return std::nullopt;
  }
  return reply.Whole().subspan(kBootHeaderSize);
}

std::string PayloadText(std::span<const uint8_t> payload) {
  return Cp1251ToUtf8(UpToZero(payload));
}

uint32_t PayloadWord(std::span<const uint8_t> payload) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4 && i < payload.size(); ++i) {
    value |= static_cast<uint32_t>(payload[i]) << (8 * i);
  }
  return value;
}

bool TakeFirmwareVersion(const TVersionReply& reply, TFirmwareVersion& version) {
  if (reply.Received < kMinVersionReply) {
    return false;
  }
  // The text ends right after the bytes received, or earlier at a zero byte among them.
  version.Parse(Cp1251ToUtf8(UpToZero(reply.Reply())));
  return version.Number != 0;
}

TStartAnswer ClassifyStartReply(std::span<const uint8_t> reply) {
  if (reply.empty()) {
    return TStartAnswer::None;
  }
  if (StartsWith(reply, "STARTED")) {
    return TStartAnswer::Started;
  }
  if (StartsWith(reply, "START ERROR")) {
    return TStartAnswer::StartError;
  }
  return TStartAnswer::Unknown;
}

std::string ReplyText(std::span<const uint8_t> reply) {
  return Cp1251ToUtf8(UpToZero(reply));
}

}  // namespace updater
