#pragma once
// What the core knows of a device's panel: that a device record owns one and destroys it.
// The widget class lives in the main layer.

namespace updater {

class TDevPanel {
 public:
  virtual ~TDevPanel() = default;
};

}  // namespace updater
