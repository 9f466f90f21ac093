#pragma once
// The stand-in's line to one FTDI-kind virtual tracker: a connected Unix-domain stream socket,
// non-blocking, with every wait bounded by poll(). A socket, not a tty: the vendor's library
// talks to USB, and a status query on a socket (FIONREAD) never waits in a tty layer.
//
// Threads: a line may be used from several threads; reads and writes are plain system calls
// on one descriptor, and the "gone" flag is atomic. The descriptor lives as long as the line.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "TtyPort.h"

namespace d2xxsim {

using ttyport::TIo;

class TSocketLine {
 public:
  // Null when nothing listens at the path.
  static std::unique_ptr<TSocketLine> Connect(const std::string& path);
  ~TSocketLine();
  TSocketLine(const TSocketLine&) = delete;
  TSocketLine& operator=(const TSocketLine&) = delete;

  // Waits up to timeout_ms (ttyport::kWaitForever: no limit) until input is there.
  TIo WaitReadable(int timeout_ms);
  // Reads what is there now, at most capacity bytes, without waiting.
  TIo ReadAvailable(uint8_t* buffer, size_t capacity, size_t& got);
  // Writes everything within timeout_ms; written tells how much went out.
  TIo Write(const uint8_t* data, size_t length, int timeout_ms, size_t& written);
  // Bytes waiting in the receive queue; false when the tracker has gone and nothing waits.
  bool QueuedInput(uint32_t& count);
  // False once the tracker has hung up and everything it sent has been read.
  bool Alive();
  // Drops what waits to be read; nothing waits to be sent (the socket takes every byte).
  void Purge(bool input);

 private:
  explicit TSocketLine(int fd) : fd_(fd) {}
  TIo MarkGone();
  int Queued() const;

  const int fd_;
  std::atomic<bool> gone_{false};
};

}  // namespace d2xxsim
