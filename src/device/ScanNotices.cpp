#include "ScanNotices.h"

namespace updater {

bool TScanNotices::First(const std::string& key) {
  std::lock_guard lock(mutex_);
  return noted_.insert(key).second;
}

void TScanNotices::Forget(const std::string& key) {
  std::lock_guard lock(mutex_);
  noted_.erase(key);
}

void TScanNotices::KeepOnly(std::string_view kind, const std::set<std::string>& present) {
  std::lock_guard lock(mutex_);
  std::erase_if(noted_, [&](const std::string& key) {
    return key.starts_with(kind) && !present.contains(key);
  });
}

}  // namespace updater
