#pragma once
// The stand-in's open devices. A handle is the address of a heap object, as the vendor's
// handles are; the registry says which addresses are live, so a stale or made-up handle gets
// "invalid handle" instead of being followed.
//
// Threads: the registry is guarded by its mutex; callers work on a shared reference outside
// the lock, so a close on one thread never frees a device under a call on another.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "SocketLine.h"

namespace d2xxsim {

struct TOpenDevice {
  std::unique_ptr<TSocketLine> Line;
  std::string Serial;
  std::string Description;
  std::atomic<uint32_t> ReadMs{0};  // 0: wait without limit, the vendor's default
  std::atomic<uint32_t> WriteMs{0};
};

class THandleRegistry {
 public:
  // Null when the serial number is open already: a device is opened once at a time.
  void* Add(std::shared_ptr<TOpenDevice> device);
  std::shared_ptr<TOpenDevice> Find(void* handle);
  std::shared_ptr<TOpenDevice> Remove(void* handle);
  // The handle of an open device by serial number, or null.
  void* HandleOf(const std::string& serial);

 private:
  std::mutex mutex_;
  std::map<void*, std::shared_ptr<TOpenDevice>> open_;
};

THandleRegistry& Registry();

}  // namespace d2xxsim
