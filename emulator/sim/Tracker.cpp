#include "Tracker.h"

#include <algorithm>
#include <utility>

#include "SimFrame.h"

namespace updater::sim {

namespace {

constexpr uint16_t kEraseOlder = 1;
constexpr uint16_t kWriteOlder = 2;
constexpr uint16_t kQueryFirmware = 4;
constexpr uint16_t kQueryBoot = 5;
constexpr uint16_t kEraseNewer = 6;
constexpr uint16_t kWriteNewer = 7;
constexpr uint16_t kQueryProcessor = 10;
constexpr uint16_t kFinishGood = 11;
constexpr uint16_t kFinishBad = 12;

// Boot loaders from 1.04 on understand the newer erase/write requests as well.
constexpr uint32_t kNewerCommandsFrom = 104;

std::vector<uint8_t> TextBytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> TextPayload(const std::string& text) {
  std::vector<uint8_t> payload = TextBytes(text);
  payload.push_back(0);
  return payload;
}

}  // namespace

const char* ModeName(TrackerMode mode) {
  return mode == TrackerMode::BootLoader ? "boot" : "firmware";
}

const char* FinishName(FinishState state) {
  switch (state) {
    case FinishState::Succeeded:
      return "success";
    case FinishState::Failed:
      return "failure";
    case FinishState::None:
      break;
  }
  return "none";
}

Tracker::Tracker(TrackerConfig config)
    : config_(std::move(config)),
      mode_(config_.mode),
      boot_(ReadVersionText(config_.bootVersion)),
      map_(SectorMapFor(config_.processorId, boot_.suffix)) {
  flash_.assign(map_.FlashSize(), 0xFF);
  std::copy_n(config_.preload.begin(), std::min(config_.preload.size(), flash_.size()),
              flash_.begin());
  // Nothing is known about the flash at power-up: every part must be erased before writing.
  parts_.assign((flash_.size() + kFramePartSize - 1) / kFramePartSize, PartState::Unknown);
}

void Tracker::EnterBootLoader() {
  mode_ = TrackerMode::BootLoader;
  input_.Clear();
}

std::vector<TrackerAction> Tracker::Receive(std::span<const uint8_t> bytes) {
  input_.Append(bytes);
  std::vector<TrackerAction> actions;
  if (mode_ == TrackerMode::BootLoader) {
    while (auto frame = input_.NextFrame()) {
      actions.push_back(HandleFrame(std::move(*frame)));
    }
  } else {
    while (auto command = input_.NextCommand()) {
      actions.push_back(HandleCommand(*command));
      // After the start command the firmware is gone; whatever follows is not for it.
      if (actions.back().replug) {
        input_.Clear();
        break;
      }
    }
  }
  return actions;
}

TrackerAction Tracker::HandleCommand(const std::string& command) {
  RequestRecord record;
  record.text = command;
  record.raw = TextBytes(command);
  TrackerAction action;
  const TrackerFaults& f = config_.faults;
  if (command == kReadVersionCommand) {
    if (f.version == VersionReply::Full) {
      action.reply = TextBytes(config_.firmwareVersion);
    } else if (f.version == VersionReply::Short) {
      action.reply = TextBytes(config_.firmwareVersion.substr(0, 7));
    }
  } else {
    switch (f.start) {
      case StartReply::Started:
        action.reply = TextBytes("STARTED");
        action.replug = true;
        break;
      case StartReply::Error:
        action.reply = TextBytes("START ERROR");
        break;
      case StartReply::LowerCase:
        action.reply = TextBytes("started");
        break;
      case StartReply::Garbage:
        action.reply = {0x01, 0xFE, '?', '#', 0x7F, 'x'};
        break;
      case StartReply::Silent:
        break;
    }
  }
  record.answered = !action.reply.empty();
  record.note = std::string(action.reply.begin(), action.reply.end());
  action.delayMs = f.delayMs;
  action.paceMs = f.paceMs;
  requests_.push_back(std::move(record));
  return action;
}

TrackerAction Tracker::HandleFrame(std::vector<uint8_t> frame) {
  const TrackerFaults& f = config_.faults;
  const int number = ++frames_;
  const SimHeader h = ReadHeader(frame);
  RequestRecord record;
  record.frameNumber = number;
  record.code = h.code;
  record.sector = h.sector;
  record.address = h.address;

  std::vector<uint8_t> payload;
  uint16_t code = 0;
  if (!ChecksumMatches(frame)) {
    code = kReplyBadChecksum;
    record.note = "bad checksum";
  } else if (auto refuse = f.refuseAt.find(number); refuse != f.refuseAt.end()) {
    code = refuse->second;
    record.note = "refused by switch";
  } else {
    code = Execute(record, frame, payload);
  }

  uint16_t sectorEcho = h.sector;
  uint32_t addressEcho = h.address;
  if (f.wrongSectorAt.count(number) != 0) {
    sectorEcho = static_cast<uint16_t>(h.sector + 1);
    record.note += record.note.empty() ? "wrong sector echo" : ", wrong sector echo";
  }
  if (f.wrongAddressAt.count(number) != 0) {
    addressEcho = h.address + static_cast<uint32_t>(kFramePartSize);
    record.note += record.note.empty() ? "wrong address echo" : ", wrong address echo";
  }

  TrackerAction action;
  action.reply = BuildReply(code, sectorEcho, addressEcho, payload);
  action.delayMs = f.delayMs;
  action.paceMs = f.paceMs;
  record.result = code;
  if (f.dropAt.count(number) != 0) {
    action.reply.clear();
    record.note += record.note.empty() ? "reply dropped" : ", reply dropped";
  } else if (auto cut = f.truncateAt.find(number);
             cut != f.truncateAt.end() && cut->second < action.reply.size()) {
    action.reply.resize(cut->second);
    std::string what = "reply cut to " + std::to_string(cut->second) + " bytes";
    record.note += record.note.empty() ? what : ", " + what;
  }
  if (f.duplicateAt.count(number) != 0 && !action.reply.empty()) {
    // Back to back: the surplus copy is certainly waiting when the client's next read comes.
    const std::vector<uint8_t> once = action.reply;
    action.reply.insert(action.reply.end(), once.begin(), once.end());
    record.note += record.note.empty() ? "reply sent twice" : ", reply sent twice";
  }
  record.answered = !action.reply.empty();
  action.vanish = f.vanishAfter == number;
  record.raw = std::move(frame);
  requests_.push_back(std::move(record));
  return action;
}

uint16_t Tracker::Execute(RequestRecord& record, std::span<const uint8_t> frame,
                          std::vector<uint8_t>& payload) {
  const SimHeader h = ReadHeader(frame);
  const bool isWrite = h.code == kWriteOlder || h.code == kWriteNewer;
  const size_t expected = isWrite ? kWriteFrameSize : kFrameHeaderSize;
  if (h.headerLength != kFrameHeaderSize || h.totalLength != expected || frame.size() != expected) {
    record.note = "bad length";
    return kReplyBadLength;
  }
  switch (h.code) {
    case kQueryFirmware:
      payload = TextPayload(config_.firmwareVersion);
      return kReplyDone;
    case kQueryBoot:
      payload = TextPayload(config_.bootVersion);
      return kReplyDone;
    case kQueryProcessor:
      for (int i = 0; i < 4; ++i) {
        payload.push_back(static_cast<uint8_t>(config_.processorId >> (8 * i)));
      }
      return kReplyDone;
    case kFinishGood:
    case kFinishBad:
      finish_ = h.code == kFinishGood ? FinishState::Succeeded : FinishState::Failed;
      return kReplyDone;
    case kEraseOlder:
    case kEraseNewer:
    case kWriteOlder:
    case kWriteNewer:
      if (!CommandSetAccepted(h.code)) {
        record.note = "command set not understood";
        return kReplyUnknownRequest;
      }
      return isWrite ? Write(record, frame.subspan(kFrameHeaderSize)) : Erase(record);
    default:
      record.note = "unknown request";
      return kReplyUnknownRequest;
  }
}

bool Tracker::CommandSetAccepted(uint16_t code) const {
  const bool newer = code == kEraseNewer || code == kWriteNewer;
  if (map_.knownProcessor) {
    return newer;
  }
  // Other processors: the older set always; the newer one only from boot loader 1.04 on.
  return !newer || (boot_.valid && boot_.number >= kNewerCommandsFrom);
}

bool Tracker::SectorAllowed(RequestRecord& record, bool erase) const {
  const int s = record.sector;
  if (s >= static_cast<int>(map_.sectors.size())) {
    record.note = "no such sector";
    return false;
  }
  if (s < map_.firstWritable || s > map_.lastWritable) {
    record.note = "sector not writable";
    return false;
  }
  const SimSector& sector = map_.sectors[static_cast<size_t>(s)];
  if (erase) {
    if (record.address != sector.address) {
      record.note = "address is not the sector's";
      return false;
    }
    return true;
  }
  const bool inside = record.address >= sector.address &&
                      record.address + kFramePartSize <= sector.address + sector.size;
  if (!inside || (record.address - sector.address) % kFramePartSize != 0) {
    record.note = "address not a part of the sector";
    return false;
  }
  return true;
}

uint16_t Tracker::Erase(RequestRecord& record) {
  if (!SectorAllowed(record, true)) {
    return kReplyBadSector;
  }
  if (config_.faults.locked) {
    record.note = "locked";
    return kReplyLocked;
  }
  if (config_.faults.protectErase.count(record.sector) != 0) {
    record.note = "protected, not erased";
    return kReplyProtected;
  }
  const SimSector& sector = map_.sectors[record.sector];
  std::fill_n(flash_.begin() + sector.address, sector.size, 0xFF);
  std::fill_n(parts_.begin() + sector.address / kFramePartSize, sector.size / kFramePartSize,
              PartState::Erased);
  return kReplyDone;
}

uint16_t Tracker::Write(RequestRecord& record, std::span<const uint8_t> data) {
  if (!SectorAllowed(record, false)) {
    return kReplyBadSector;
  }
  if (config_.faults.protectWrite.count(record.sector) != 0) {
    record.note = "protected, not written";
    return kReplyProtected;
  }
  const size_t part = record.address / kFramePartSize;
  auto target = flash_.begin() + record.address;
  if (parts_[part] == PartState::Written && std::equal(data.begin(), data.end(), target)) {
    // The same part again, as after a lost reply: programming it twice changes nothing.
    record.note = "repeated write";
    return kReplyDone;
  }
  if (parts_[part] != PartState::Erased) {
    record.note = "part not erased";
    return kReplyNotErased;
  }
  std::copy(data.begin(), data.end(), target);
  parts_[part] = PartState::Written;
  return kReplyDone;
}

}  // namespace updater::sim
