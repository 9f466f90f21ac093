#pragma once
// The tracker's end of the line a driver library talks over. The maker's kind is a serial
// port, so it is served on a pseudo-terminal; the FTDI kind is reached through the vendor's
// library, which talks to USB and not to a tty, so it is served on a Unix-domain stream socket
// whose file the stand-in D2XX connects to.
//
// Threads: a port is owned and used by one tracker thread only.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "TrackerConfig.h"

namespace updater::sim {

class TrackerPort {
 public:
  virtual ~TrackerPort() = default;

  // Makes the device node; false with errno set when that failed. dir is where the node is
  // made when the kind has a node of its own (the socket); a pty ignores it.
  virtual bool Open(const std::string& dir, const std::string& serial) = 0;
  // Hangs up: a client that still has the device open sees it gone.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // The node that publishing makes visible (the pty's slave, or the bound socket file).
  virtual const std::string& DevicePath() const = 0;
  // The descriptor to wait on for input (or, for the socket, for a client that connects).
  virtual int PollFd() const = 0;
  // Reads what is there now; -1 on error, 0 when nothing (or when a client came or went).
  virtual long ReadAvailable(uint8_t* buffer, size_t capacity) = 0;
  // Writes all bytes, waiting at most timeoutMs for room; false when they could not go out.
  virtual bool WriteAll(std::span<const uint8_t> bytes, int timeoutMs) = 0;
  // Bytes the host sent that the client has not read yet.
  virtual int UnreadByClient() const = 0;
};

std::unique_ptr<TrackerPort> MakeTrackerPort(DriverKind kind);

}  // namespace updater::sim
