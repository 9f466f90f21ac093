// Arbitrary device bytes as the boot loader's answers to a write job's requests: erase, write
// and finish, through the real channel of either driver kind. The bytes arrive in pieces of a
// size the input chooses (a library may even claim more than it was asked for), so that short,
// long, split, stale and foreign replies all reach the reply checks. Whatever arrives, no read
// goes past a buffer, and a sector counts as done only on a reply that says so.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "BootFrame.h"
#include "DevEntry.h"
#include "DeviceChannel.h"
#include "DriverLibraries.h"
#include "FlashRequests.h"
#include "SectorMap.h"

using namespace updater;

namespace {

// The device's side: what is still to arrive. One input at a time (libFuzzer's one thread).
struct TStream {
  const uint8_t* data = nullptr;
  size_t size = 0;

  // The next piece: its length byte, then up to that many bytes (fewer when the input ends).
  // claimed is the count the library reports, which may exceed what it was asked for.
  size_t Piece(uint8_t* buffer, size_t capacity, uint32_t& claimed) {
    claimed = 0;
    if (size == 0) {
      return 0;
    }
    const size_t wanted = data[0] % 32;  // 0 ..31: shorter and longer than a reply
    ++data;
    --size;
    const size_t got = std::min({wanted, size, capacity});
    std::memcpy(buffer, data, got);
    data += got;
    size -= got;
    claimed = static_cast<uint32_t>(std::min(wanted, size + got));
    return got;
  }
  // The queue's count a status call reports: the next length byte, consumed only when it is 0
  // (a poll that finds nothing).
  uint32_t Queued() {
    const uint32_t queued = data[0] % 32;
    if (queued == 0) {
      ++data;
      --size;
    }
    return queued;
  }
};

TStream g_stream;
uint32_t g_tick = 0;
size_t g_sent = 0;  // bytes of requests

uint32_t FakeTick() {
  return g_tick += 1;
}
void FakeSleep(uint32_t ms) {
  g_tick += ms;
}

uint32_t QlRead(uint32_t, void* buffer, uint32_t capacity, uint32_t* count) {
  uint32_t claimed = 0;
  g_stream.Piece(static_cast<uint8_t*>(buffer), capacity, claimed);
  *count = claimed;
  return 0;
}
uint32_t QlWrite(uint32_t, const void* data, uint32_t length, uint32_t* written) {
  // The request must be whole and readable: the copy has AddressSanitizer check every byte.
  static std::array<uint8_t, kBootWriteFrameSize> sent;
  if (length > sent.size()) {
    __builtin_trap();
  }
  std::memcpy(sent.data(), data, length);
  g_sent += length;
  *written = length;
  return 0;
}

FT_STATUS FtStatus(FT_HANDLE, DWORD* rx, DWORD* tx, DWORD* events) {
  // The input's end is a device that is gone; the device's silence comes from 0 pieces.
  if (g_stream.size == 0) {
    return 1;
  }
  *rx = g_stream.Queued();
  *tx = 0;
  *events = 0;
  return FT_OK;
}
FT_STATUS FtRead(FT_HANDLE, void* buffer, DWORD wanted, DWORD* got) {
  uint32_t claimed = 0;
  g_stream.Piece(static_cast<uint8_t*>(buffer), wanted, claimed);
  *got = claimed;
  return FT_OK;
}
FT_STATUS FtWrite(FT_HANDLE, void* data, DWORD length, DWORD* written) {
  return QlWrite(0, data, length, written);
}

class THooks : public TFlashJobHooks {
 public:
  void FlashLog(int level, std::string text) override {
    if ((level != 0 && level != 1) || text.empty()) {
      __builtin_trap();
    }
  }
  void PartWritten() override { ++parts; }
  bool Abandoned() const override { return false; }

  int parts = 0;
};

// Two small sectors and one the image does not hold.
constexpr TSector kSectors[] = {{0, 1024}, {1024, 512}, {1536, 2048}};
constexpr uint32_t kImageSize = 1536;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  static TQlLibrary ql;
  static TFtdiLibrary ftdi;
  ql.QL_ReadNotTimeOut = &QlRead;
  ql.QL_Write = &QlWrite;
  ftdi.FT_GetStatus = &FtStatus;
  ftdi.FT_Read = &FtRead;
  ftdi.FT_Write = &FtWrite;
  static const TDeviceChannel channel(&ftdi, &ql, TChannelClock{&FakeTick, &FakeSleep});
  static const std::vector<uint8_t> image(kImageSize, 0xA5);
  static const TSectorMap map{kSectors, 0, 2};

  const bool ftdi_kind = (data[0] & 1) != 0;
  const bool newer = (data[0] & 2) != 0;
  const int32_t first = data[1] % 4;  // 3 is past the map
  g_stream = {data + 2, size - 2};
  g_sent = 0;

  TDevEntry device("1", 0, ftdi_kind ? kDriverFtdi : kDriverQl);
  device.FtHandle = reinterpret_cast<void*>(0x5000);
  device.QlHandle = 7;
  THooks hooks;
  TFlashRequests requests(channel, device, map, image, newer, 0, hooks);

  for (int32_t sector = first; sector < first + 2; ++sector) {
    const bool held = sector < 2;
    const int before = hooks.parts;
    const bool erased = requests.EraseSector(sector);
    if (erased && (!held || (requests.LastReply() != kBootReplyDone &&
                             requests.LastReply() != kBootReplyProtected))) {
      __builtin_trap();
    }
    const bool written = requests.WriteSector(sector);
    const int parts = held ? static_cast<int>(kSectors[sector].Size / kBootDataSize) : 0;
    if (written &&
        (!held || hooks.parts - before != parts ||
         (requests.LastReply() != kBootReplyDone && requests.LastReply() != kBootReplyProtected))) {
      __builtin_trap();
    }
    if (!written && hooks.parts - before >= parts && held) {
      __builtin_trap();
    }
    if (requests.Stopped()) {
      __builtin_trap();
    }
  }
  requests.SendFinish((data[0] & 4) != 0);
  // Three attempts at most per request: two erases, three write parts at most, one finish.
  if (g_sent > 3 * (2 * kBootHeaderSize + 3 * kBootWriteFrameSize) + kBootHeaderSize) {
    __builtin_trap();
  }
  return 0;
}
