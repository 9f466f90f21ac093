#pragma once
// One pseudo-terminal pair in raw mode. The host keeps its own slave descriptor open so the
// master never reports a hang-up while no client has the device open.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "TrackerPort.h"

namespace updater::sim {

class PseudoTerminal : public TrackerPort {
 public:
  PseudoTerminal() = default;
  ~PseudoTerminal() override { Close(); }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Returns false with errno set when no pair could be made.
  bool Open();
  bool Open(const std::string& /*dir*/, const std::string& /*serial*/) override { return Open(); }
  // Closing the master hangs up the slave: a client that still has it open sees EIO.
  void Close() override;

  bool IsOpen() const override { return master_ >= 0; }
  int MasterFd() const { return master_; }
  int PollFd() const override { return master_; }
  const std::string& SlavePath() const { return slavePath_; }
  const std::string& DevicePath() const override { return slavePath_; }

  // Reads what is there now (the master is non-blocking); -1 on error, 0 when nothing.
  long ReadAvailable(uint8_t* buffer, size_t capacity) override;
  bool WriteAll(std::span<const uint8_t> bytes, int timeoutMs) override;
  int UnreadByClient() const override;

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace updater::sim
