#pragma once
// The tracker model: answers text commands in firmware mode and frames in boot-loader mode,
// keeps its flash memory and a record of every request. It does no I/O; the host feeds it
// bytes and carries out the actions it returns. Not thread-safe: the host guards each model.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "SimSectorMap.h"
#include "SimVersionText.h"
#include "TrackerConfig.h"
#include "TrackerInput.h"

namespace updater::sim {

enum class FinishState { None, Succeeded, Failed };

struct RequestRecord {
  int frameNumber = 0;  // 0 for a text command
  std::string text;     // the text command, empty for a frame
  uint16_t code = 0;
  uint16_t sector = 0;
  uint32_t address = 0;
  std::vector<uint8_t> raw;
  bool answered = false;  // a reply (possibly faulty) was sent
  uint16_t result = 0;    // reply code of a frame
  std::string note;       // fault applied or reason of a refusal
};

// What the host must do for one request.
struct TrackerAction {
  std::vector<uint8_t> reply;  // sent unless empty
  int delayMs = 0;
  int paceMs = 0;       // the host keeps the tracker's own clock; see TrackerFaults
  bool replug = false;  // after the reply: withdraw, come back in boot-loader mode
  bool vanish = false;  // after the reply: withdraw and stay away
};

class Tracker {
 public:
  explicit Tracker(TrackerConfig config);

  std::vector<TrackerAction> Receive(std::span<const uint8_t> bytes);
  bool HasPartialInput() const { return input_.HasPartial(); }
  void DropPartialInput() { input_.Clear(); }

  // The device came back after a reset into its boot loader.
  void EnterBootLoader();

  const TrackerConfig& Config() const { return config_; }
  TrackerMode Mode() const { return mode_; }
  const SimSectorMap& SectorMap() const { return map_; }
  const std::vector<uint8_t>& Flash() const { return flash_; }
  const std::vector<RequestRecord>& Requests() const { return requests_; }
  FinishState Finish() const { return finish_; }
  int FramesReceived() const { return frames_; }

 private:
  enum class PartState : uint8_t { Unknown, Erased, Written };

  TrackerAction HandleFrame(std::vector<uint8_t> frame);
  TrackerAction HandleCommand(const std::string& command);
  uint16_t Execute(RequestRecord& record, std::span<const uint8_t> frame,
                   std::vector<uint8_t>& payload);
  uint16_t Erase(RequestRecord& record);
  uint16_t Write(RequestRecord& record, std::span<const uint8_t> data);
  bool SectorAllowed(RequestRecord& record, bool erase) const;
  bool CommandSetAccepted(uint16_t code) const;

  TrackerConfig config_;
  TrackerMode mode_;
  SimVersion boot_;
  SimSectorMap map_;
  std::vector<uint8_t> flash_;
  std::vector<PartState> parts_;  // one per 512 bytes of flash
  std::vector<RequestRecord> requests_;
  TrackerInput input_;
  FinishState finish_ = FinishState::None;
  int frames_ = 0;
};

const char* ModeName(TrackerMode mode);
const char* FinishName(FinishState state);

}  // namespace updater::sim
