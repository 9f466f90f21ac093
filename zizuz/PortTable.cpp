#include "PortTable.h"

namespace zizuz {

uint32_t TPortTable::Add(std::shared_ptr<TOpenPort> port) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ports_.size() >= kMaxPorts) {
    return 0;
  }
  while (next_ == 0 || ports_.count(next_) != 0) {
    ++next_;  // wraps after 2^32 opens; 0 is never a handle
  }
  const uint32_t handle = next_++;
  ports_.emplace(handle, std::move(port));
  return handle;
}

std::shared_ptr<TOpenPort> TPortTable::Find(uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = ports_.find(handle);
  return it == ports_.end() ? nullptr : it->second;
}

std::shared_ptr<TOpenPort> TPortTable::Remove(uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = ports_.find(handle);
  if (it == ports_.end()) {
    return nullptr;
  }
  auto port = std::move(it->second);
  ports_.erase(it);
  return port;
}

}  // namespace zizuz
