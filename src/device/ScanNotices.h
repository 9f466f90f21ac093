#pragma once
// What the scan has already told the user about devices it cannot use: a device held by
// another driver, a tracker whose tty the user may not open. Such a device stays as it is from
// one scan to the next, so its line is given once, not at every scan, and again only after
// the device has been away.
//
// Threads: owned by the session and outlives every scan; one scan at a time uses it, and
// the mutex keeps it sound should that ever change. It also holds how a cycle names the
// tracker that spoiled it (TScanCulprit), a plain value the scan hands to the session.

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace updater {

// The tracker that spoiled a cycle: the cycle's error line does not say which it was, and on a
// line of hubs every other tracker waits until it is pulled.
struct TScanCulprit {
  bool Found = false;  // false: no tracker spoiled the cycle
  int32_t Serial = 0;
  uint32_t Driver = 0;
  std::string Path;  // the device node, where the library told it
};

class TScanNotices {
 public:
  // True when key has not been noted since it was last let go: the caller gives its line.
  bool First(const std::string& key);
  // Lets go of key (the device became usable).
  void Forget(const std::string& key);
  // Lets go of every key that starts with kind and is not in present (those devices are no
  // longer there).
  void KeepOnly(std::string_view kind, const std::set<std::string>& present);

 private:
  std::mutex mutex_;
  std::set<std::string> noted_;
};

}  // namespace updater
