// A frame is shown at once after a quiet frame, else by a single-shot timer at the frame's end.

#include "ViewFrames.h"

#include <utility>

namespace updater {

TViewFrames::TViewFrames(std::function<void()> show, int frame_ms)
    : show_(std::move(show)), frame_ms_(frame_ms) {
  timer_.setSingleShot(true);
  // A coarse timer may fire up to 5 % early or late, which costs nothing here and lets the
  // system gather wake-ups.
  timer_.setTimerType(Qt::CoarseTimer);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Show(); });
}

void TViewFrames::Changed() {
  pending_ = true;
  if (timer_.isActive()) {
    return;
  }
  const qint64 since = last_frame_.isValid() ? last_frame_.elapsed() : frame_ms_;
  if (since >= frame_ms_) {
    Show();
  } else {
    timer_.start(static_cast<int>(frame_ms_ - since));
  }
}

void TViewFrames::ShowNow() {
  if (pending_) {
    Show();
  }
}

void TViewFrames::Show() {
  timer_.stop();
  pending_ = false;
  last_frame_.start();
  show_();
}

}  // namespace updater
