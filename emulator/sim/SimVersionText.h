#pragma once
// What a tracker needs to know about its own boot-loader version text ("BOOT-1.05PP"): the
// number major*100+minor and the suffix behind the digits.

#include <cstdint>
#include <string>

namespace updater::sim {

struct SimVersion {
  bool valid = false;
  uint32_t number = 0;
  std::string suffix;
};

SimVersion ReadVersionText(const std::string& text);

}  // namespace updater::sim
