#include "DevEntry.h"

#include <algorithm>
#include <charconv>

namespace updater {

namespace {

// The decimal text as a whole number, or -1 when it is not one (sign allowed, nothing after).
int32_t SerialFromText(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') {
    digits.remove_prefix(1);
    if (!digits.empty() && digits.front() == '-') {
      return -1;
    }
  }
  int32_t value = -1;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
    return -1;
  }
  return value;
}

}  // namespace

TDevEntry::TDevEntry(std::string_view serial_text, uint16_t list_code, uint32_t driver)
    : Serial(SerialFromText(serial_text)),
      SerialText(serial_text),
      ListCode(list_code),
      Driver(driver) {}

TDevEntry::~TDevEntry() = default;

TDevEntry* FindDevice(const TDevList& list, int32_t serial) {
  const auto it = std::find_if(list.begin(), list.end(),
                               [serial](const auto& entry) { return entry->Serial == serial; });
  return it == list.end() ? nullptr : it->get();
}

void DeleteDevice(TDevList& list, int32_t serial) {
  const auto it = std::find_if(list.begin(), list.end(),
                               [serial](const auto& entry) { return entry->Serial == serial; });
  if (it != list.end()) {
    list.erase(it);
  }
}

}  // namespace updater
