#include "FlashRequests.h"

#include <optional>
#include <vector>

#include "BootFrame.h"
#include "TextFormat.h"
#include "Tick.h"

namespace updater {

namespace {

constexpr int kAttempts = 3;
constexpr uint32_t kReplyTimeoutMs = 1000;
constexpr uint32_t kFinishTimeoutMs = 100;
constexpr uint32_t kFinishDrainSize = 1024;

}  // namespace

TFlashRequests::TFlashRequests(const TDeviceChannel& channel, TDevEntry& device,
                               const TSectorMap& map, std::span<const uint8_t> image,
                               bool newer_commands, uint32_t start_tick, TFlashJobHooks& job)
    : channel_(channel),
      device_(device),
      map_(map),
      image_(image),
      newer_commands_(newer_commands),
      start_tick_(start_tick),
      job_(job) {}

int32_t TFlashRequests::ElapsedMs() const {
  return static_cast<int32_t>(TickCount() - start_tick_);
}

const TSector* TFlashRequests::SectorAt(int32_t sector) const {
  if (sector < 0 || static_cast<size_t>(sector) >= map_.Sectors.size()) {
    return nullptr;
  }
  const TSector& place = map_.Sectors[static_cast<size_t>(sector)];
  if (static_cast<size_t>(place.Address) + place.Size > image_.size()) {
    return nullptr;
  }
  return &place;
}

bool TFlashRequests::Exchange(std::span<const uint8_t> frame, uint16_t sector, uint32_t address,
                              bool is_write) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt > 0) {
      ++retries_;
    }
    // A failed send is retried like a missing reply; the channel is not purged in between, so
    // a late reply to an earlier attempt may still answer this one.
    if (!channel_.DevWrite(device_, frame.data(), static_cast<uint32_t>(frame.size()))) {
      continue;
    }
    const std::optional<TBootFrameHeader> reply = ReadReply(sector, address, is_write);
    if (!reply) {
      continue;
    }
    const TBootFrameHeader& header = *reply;
    // A reply for some other request means the two sides disagree; retrying would not mend it.
    if (!Answers(header, sector, address, is_write)) {
      return false;
    }
    answered_ = TEcho{sector, address};
    last_reply_ = header.Code;
    if (header.Code == kBootReplyDone) {
      return true;
    }
    if (header.Code == kBootReplyProtected) {
      job_.FlashLog(1, Format(is_write ? "(% 6d) Сектор защищен от записи"
                                       : "(% 6d) Сектор защищен от стирания",
                              ElapsedMs()));
      return true;
    }
    return false;
  }
  return false;
}

bool TFlashRequests::Answers(const TBootFrameHeader& header, uint16_t sector, uint32_t address,
                             bool is_write) {
  return header.TotalLength == kReplySize && header.HeaderLength == kReplySize &&
         header.Sector == sector && (!is_write || header.Address == address);
}

std::optional<TBootFrameHeader> TFlashRequests::ReadReply(uint16_t sector, uint32_t address,
                                                          bool is_write) {
  const uint32_t start = TickCount();
  for (;;) {
    const uint32_t spent = TickCount() - start;
    if (spent >= kReplyTimeoutMs) {
      return std::nullopt;
    }
    reply_.fill(0);
    const int32_t received =
        channel_.DevRead(device_, reply_.data(), kReplyTimeoutMs - spent, kReplySize);
    if (received != static_cast<int32_t>(kReplySize)) {
      return std::nullopt;
    }
    const TBootFrameHeader header = *ReadBootHeader(reply_);  // the record is a whole header
    // When a request was sent again because its reply came late, the boot loader answers every
    // copy, and the surplus reaches the next request. It names the request answered just
    // before this one, so it is ours and stale, not a disagreement: drop it and wait on.
    const bool stale = answered_ && !Answers(header, sector, address, is_write) &&
                       Answers(header, answered_->Sector, answered_->Address, /*is_write=*/true);
    if (!stale) {
      return header;
    }
  }
}

bool TFlashRequests::EraseSector(int32_t sector) {
  job_.FlashLog(0, Format("(% 6d) Стираем сектор %d...", ElapsedMs(), sector));
  const TSector* place = SectorAt(sector);
  if (place == nullptr) {
    job_.FlashLog(1, Format("(% 6d) Стирание сектора %d: %s", ElapsedMs(), sector, "Ошибка!"));
    return false;
  }
  const auto number = static_cast<uint16_t>(sector);
  const TBootRequest frame =
      BuildBootRequest(newer_commands_ ? kBootEraseNew : kBootEraseOld, number, place->Address);
  const bool erased = Exchange(frame, number, place->Address, false);
  if (erased) {
    job_.FlashLog(0, Format("(% 6d) Стирание сектора %d: %s", ElapsedMs(), sector, "OK"));
  } else {
    job_.FlashLog(1, Format("(% 6d) Стирание сектора %d: %s", ElapsedMs(), sector, "Ошибка!"));
  }
  return erased;
}

bool TFlashRequests::WriteSector(int32_t sector) {
  stopped_ = false;
  job_.FlashLog(0, Format("(% 6d) Запись сектора %d:", ElapsedMs(), sector));
  const TSector* place = SectorAt(sector);
  const auto number = static_cast<uint16_t>(sector);
  const int parts = place == nullptr ? 0 : static_cast<int>(place->Size / kBootDataSize);
  reply_.fill(0);
  bool written = place != nullptr;
  for (int part = 0; part < parts; ++part) {
    if (job_.Abandoned()) {
      stopped_ = true;
      return false;
    }
    job_.FlashLog(0, Format("(% 6d)\tЧасть %d из %d", ElapsedMs(), part, parts));
    const uint32_t address = place->Address + static_cast<uint32_t>(part * kBootDataSize);
    const TBootWriteRequest frame =
        BuildBootWriteRequest(newer_commands_ ? kBootWriteNew : kBootWriteOld, number, address,
                              image_.subspan(address).first<kBootDataSize>());
    if (!Exchange(frame, number, address, true)) {
      written = false;
      break;
    }
    job_.PartWritten();
  }
  if (written) {
    job_.FlashLog(0, Format("(% 6d) Сектор %d записан", ElapsedMs(), sector));
  } else {
    // The record holds what the last read received, zeros where nothing came.
    const TBootFrameHeader last = *ReadBootHeader(reply_);
    job_.FlashLog(1, Format("(% 6d) Ошибка при записи сектора %d (%d, %d, %d, %d, %d)", ElapsedMs(),
                            sector, last.TotalLength, last.HeaderLength, last.Code, last.Sector,
                            static_cast<int32_t>(last.Address)));
  }
  return written;
}

void TFlashRequests::SendFinish(bool success) {
  const TBootRequest frame =
      BuildBootRequest(success ? kBootFinishSucceeded : kBootFinishFailed, kBootNoSector, 0);
  if (channel_.DevWrite(device_, frame.data(), static_cast<uint32_t>(frame.size()))) {
    std::vector<uint8_t> drain(kFinishDrainSize);
    channel_.DevRead(device_, drain.data(), kFinishTimeoutMs, kFinishDrainSize);
  }
}

}  // namespace updater
