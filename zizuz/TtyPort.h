#pragma once
// One open tty in raw mode, non-blocking, with every wait bounded by poll(). Shared by the
// maker's library and the stand-in D2XX, which serve serial ports the same way underneath.
//
// Threads: a port may be used from several threads; reads and writes are plain system calls
// on one descriptor, and the "gone" flag is atomic. The descriptor lives as long as the port.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ttyport {

enum class TIo { kOk, kTimeout, kGone };

inline constexpr int kWaitForever = -1;

class TTtyPort {
 public:
  // Null when the path cannot be opened or is not a tty; errno then tells why.
  static std::unique_ptr<TTtyPort> Open(const std::string& path);
  ~TTtyPort();
  TTtyPort(const TTtyPort&) = delete;
  TTtyPort& operator=(const TTtyPort&) = delete;

  // Waits up to timeout_ms (kWaitForever: no limit) until input is there.
  TIo WaitReadable(int timeout_ms);
  // Reads what is there now, at most capacity bytes, without waiting.
  TIo ReadAvailable(uint8_t* buffer, size_t capacity, size_t& got);
  // Writes everything within timeout_ms; written tells how much went out.
  TIo Write(const uint8_t* data, size_t length, int timeout_ms, size_t& written);
  // Bytes waiting in the receive queue; false when the tty has gone.
  bool QueuedInput(uint32_t& count);
  // False once the other end has hung up or the tty has vanished.
  bool Alive();
  void Purge(bool input, bool output);

 private:
  explicit TTtyPort(int fd) : fd_(fd) {}
  TIo MarkGone();

  const int fd_;
  std::atomic<bool> gone_{false};
};

// Milliseconds left until deadline_ms of a monotonic millisecond clock, never negative.
int64_t NowMs();
int RemainingMs(int64_t deadline_ms);

// The byte moves of a non-blocking descriptor, shared by the tty port and the stand-in's socket
// line. ReadNow reads what is there, at most capacity bytes, without waiting; ended turns true
// when the other side has hung up or vanished (what came before it has been read). WriteWithin
// writes everything within timeout_ms (kWaitForever: no limit); ended turns true when the line
// broke. A socket is written with send(), so that a closed peer does not raise SIGPIPE.
// Waits up to timeout_ms (kWaitForever: no limit) until poll() reports fd readable or hung
// up: kOk with what it reported, kTimeout, or kGone when poll itself fails.
TIo PollReadable(int fd, int timeout_ms, short& revents);
TIo ReadNow(int fd, uint8_t* buffer, size_t capacity, size_t& got, bool& ended);
TIo WriteWithin(int fd, bool socket, const uint8_t* data, size_t length, int timeout_ms,
                size_t& written, bool& ended);

}  // namespace ttyport
