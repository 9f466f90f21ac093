#pragma once
// The library's open devices, by handle. Handles are small numbers that grow with each open
// and are not reused soon, so a stale handle does not reach another device.
//
// Threads: the table is guarded by its mutex; a caller takes a shared reference to a port and
// works on it outside the lock, so a close on one thread never pulls the descriptor from under
// a read on another.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "TtyPort.h"
#include "zizuz.h"

namespace zizuz {

struct TOpenPort {
  explicit TOpenPort(std::unique_ptr<ttyport::TTtyPort> tty) : Tty(std::move(tty)) {}
  std::unique_ptr<ttyport::TTtyPort> Tty;
  std::atomic<uint32_t> ReadMs{ZIZUZ_DEFAULT_READ_MS};
  std::atomic<uint32_t> WriteMs{ZIZUZ_DEFAULT_WRITE_MS};
};

class TPortTable {
 public:
  // 0 when the table is full.
  uint32_t Add(std::shared_ptr<TOpenPort> port);
  std::shared_ptr<TOpenPort> Find(uint32_t handle);
  std::shared_ptr<TOpenPort> Remove(uint32_t handle);

 private:
  static constexpr size_t kMaxPorts = 4096;

  std::mutex mutex_;
  std::map<uint32_t, std::shared_ptr<TOpenPort>> ports_;
  uint32_t next_ = 1;
};

}  // namespace zizuz
