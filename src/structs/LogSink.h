#pragma once
// Where core code sends an event-log line. The updater session's event log takes lines from
// any thread without waiting and keeps their order; tests record them.

#include <cstdint>
#include <functional>
#include <string>

namespace updater {

enum TLogKind : int { kLogNormal = 0, kLogError = 1, kLogSuccess = 2 };

// kind, device serial (0: no device), the finished line text (UTF-8, without device prefix).
using TLogSink = std::function<void(int kind, int32_t serial, const std::string& text)>;

}  // namespace updater
