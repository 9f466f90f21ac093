#include "HandleRegistry.h"

namespace d2xxsim {

void* THandleRegistry::Add(std::shared_ptr<TOpenDevice> device) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [handle, open] : open_) {
    if (open->Serial == device->Serial) {
      return nullptr;
    }
  }
  void* handle = device.get();
  open_.emplace(handle, std::move(device));
  return handle;
}

std::shared_ptr<TOpenDevice> THandleRegistry::Find(void* handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = open_.find(handle);
  return it == open_.end() ? nullptr : it->second;
}

std::shared_ptr<TOpenDevice> THandleRegistry::Remove(void* handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = open_.find(handle);
  if (it == open_.end()) {
    return nullptr;
  }
  auto device = std::move(it->second);
  open_.erase(it);
  return device;
}

void* THandleRegistry::HandleOf(const std::string& serial) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [handle, open] : open_) {
    if (open->Serial == serial) {
      return handle;
    }
  }
  return nullptr;
}

THandleRegistry& Registry() {
  static THandleRegistry registry;
  return registry;
}

}  // namespace d2xxsim
