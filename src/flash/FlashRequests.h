#pragma once
// The erase, write and finishing requests of one write job, exchanged with a boot loader over
// the device's channel.
//
// Threads: an object lives in the job's thread and is used only there; it owns its reply
// record and last reply code. The image and the sector map are read-only while it lives.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "BootFrame.h"
#include "DevEntry.h"
#include "DeviceChannel.h"
#include "SectorMap.h"

namespace updater {

// What the requests need from the job that runs them; called in the job's thread.
class TFlashJobHooks {
 public:
  // Hands one finished log line to the event log (level 0 normal, 1 error).
  virtual void FlashLog(int level, std::string text) = 0;
  // One more 512-byte part is in the device.
  virtual void PartWritten() = 0;
  // Shutdown has begun and nothing more is taken from this job: give up at once, even inside a
  // sector.
  virtual bool Abandoned() const = 0;

 protected:
  ~TFlashJobHooks() = default;
};

class TFlashRequests {
 public:
  // Every erase and write reply is exactly one header long.
  static constexpr size_t kReplySize = kBootHeaderSize;

  // image covers the device's flash from address 0 at least to the end of every sector this
  // object is asked to write. start_tick is the job's start, for the elapsed-time prefix.
  TFlashRequests(const TDeviceChannel& channel, TDevEntry& device, const TSectorMap& map,
                 std::span<const uint8_t> image, bool newer_commands, uint32_t start_tick,
                 TFlashJobHooks& job);

  // True when the boot loader erased the sector (or reported it protected).
  bool EraseSector(int32_t sector);
  // True when every 512-byte part of the sector was written (or reported protected).
  bool WriteSector(int32_t sector);
  // Tells the boot loader that writing is over (request 11 on success, 12 otherwise) and drops
  // whatever it answers.
  void SendFinish(bool success);

  // The code of the last erase or write reply that passed its length and echo checks; 0 while
  // none has.
  int32_t LastReply() const { return last_reply_; }
  // The last WriteSector gave up because the job was abandoned, not because the device failed.
  bool Stopped() const { return stopped_; }
  // Requests sent again (a failed send or no reply in time), over this object's life.
  int32_t Retries() const { return retries_; }

 private:
  // The sector and address a request named, as its reply echoes them.
  struct TEcho {
    uint16_t Sector;
    uint32_t Address;
  };

  // One request with its retries; true when the reply says done (or protected).
  bool Exchange(std::span<const uint8_t> frame, uint16_t sector, uint32_t address, bool is_write);
  // One 14-byte reply within the reply time-out, late copies of the previous reply skipped;
  // none when fewer or more bytes came. The record holds the bytes of the last read.
  std::optional<TBootFrameHeader> ReadReply(uint16_t sector, uint32_t address, bool is_write);
  // The reply's lengths and echo fit the request (an erase's address is not compared).
  static bool Answers(const TBootFrameHeader& header, uint16_t sector, uint32_t address,
                      bool is_write);
  int32_t ElapsedMs() const;
  // The sector's place in the map, or null when the map or the image does not hold it.
  const TSector* SectorAt(int32_t sector) const;

  const TDeviceChannel& channel_;
  TDevEntry& device_;
  const TSectorMap& map_;
  std::span<const uint8_t> image_;
  const bool newer_commands_;
  const uint32_t start_tick_;
  TFlashJobHooks& job_;

  std::array<uint8_t, kReplySize> reply_{};  // cleared before every read
  int32_t last_reply_ = 0;
  // The request whose reply was last taken; a late copy of that reply is skipped.
  std::optional<TEcho> answered_;
  bool stopped_ = false;
  int32_t retries_ = 0;
};

}  // namespace updater
