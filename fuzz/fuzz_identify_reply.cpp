// Feeds arbitrary device bytes to every reply rule of identification: the boot-loader query
// reply with its payload text and number, the firmware's version answer and its answer to the
// boot-loader start. Any input must be judged without reading past the reply buffers.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "FirmwareVersion.h"
#include "QueryReply.h"

namespace {

template <typename Buffer>
void Fill(Buffer& buffer, const uint8_t* data, size_t size) {
  const size_t n = std::min<size_t>(size, Buffer::kCapacity);
  std::memcpy(buffer.Bytes.data(), data, n);
  buffer.SetReceived(static_cast<int64_t>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace updater;

  TFrameReply frame;
  Fill(frame, data, size);
  if (const auto payload = AcceptedPayload(frame)) {
    TFirmwareVersion version;
    version.Parse(PayloadText(*payload));
    volatile uint32_t word = PayloadWord(*payload);
    (void)word;
    (void)version.VersionText();
  }

  TVersionReply text;
  Fill(text, data, size);
  TFirmwareVersion firmware;
  if (TakeFirmwareVersion(text, firmware)) {
    (void)firmware.VersionText();
  }

  TStartReplyBuffer start;
  Fill(start, data, size);
  if (ClassifyStartReply(start.Reply()) == TStartAnswer::Unknown) {
    (void)ReplyText(start.Reply());
  }
  return 0;
}
