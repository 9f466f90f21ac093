#pragma once
// An FTDI-kind tracker's line: a listening Unix-domain stream socket bound to a hidden file in
// the stand-in D2XX's directory (publishing renames it into place), and the one connection of
// the client that has the device open. A second client waits in the backlog until the first
// has gone, as an opened USB device is held by one user at a time.

#include "TrackerPort.h"

namespace updater::sim {

class SocketPort : public TrackerPort {
 public:
  SocketPort() = default;
  ~SocketPort() override { Close(); }
  SocketPort(const SocketPort&) = delete;
  SocketPort& operator=(const SocketPort&) = delete;

  bool Open(const std::string& dir, const std::string& serial) override;
  void Close() override;
  bool IsOpen() const override { return listen_ >= 0; }
  const std::string& DevicePath() const override { return boundPath_; }
  int PollFd() const override { return conn_ >= 0 ? conn_ : listen_; }
  long ReadAvailable(uint8_t* buffer, size_t capacity) override;
  // With no client connected the bytes go nowhere, as a device's reply after the host closed.
  bool WriteAll(std::span<const uint8_t> bytes, int timeoutMs) override;
  int UnreadByClient() const override;

 private:
  void DropClient();

  int listen_ = -1;
  int conn_ = -1;
  std::string boundPath_;
};

}  // namespace updater::sim
