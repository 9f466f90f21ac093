#pragma once
// Turns the byte stream arriving from the host side into whole requests. Frames may come in
// pieces; text commands have no terminator and are recognised by their exact bytes. Noise is
// skipped a byte at a time until something that can start a request is at the front.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace updater::sim {

extern const std::string kReadVersionCommand;
extern const std::string kStartBootLoaderCommand;

class TrackerInput {
 public:
  void Append(std::span<const uint8_t> bytes);

  // A whole boot-loader frame when one has arrived; noise in front of it is dropped.
  std::optional<std::vector<uint8_t>> NextFrame();
  // A whole text command when one has arrived; anything that cannot begin one is dropped.
  std::optional<std::string> NextCommand();

  bool HasPartial() const { return !buffer_.empty(); }
  // Forgets a partial request, e.g. after the sender fell silent in the middle of it.
  void Clear() { buffer_.clear(); }

 private:
  std::vector<uint8_t> buffer_;
};

}  // namespace updater::sim
