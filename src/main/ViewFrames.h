#pragma once
// Paces what the window shows of the jobs' fast streams (event log lines, progress steps). The
// window gathers their pieces as they come and shows them together, at most once a frame: a
// view that lays out and paints on the main thread then works some 25 times a second however
// fast the jobs report, and leaves the processors to the jobs and their trackers. A piece that
// comes after a quiet frame is shown at once, so a lone line or step is never held back.
//
// Threads: main thread only. Ownership: the owner keeps the gathered pieces; the show function
// it hands in must stay callable while the frames live (the owner declares them after what the
// function touches).

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

namespace updater {

// About 25 frames a second: smooth enough for a bar and a scrolling log, a line's delay too
// short to read.
inline constexpr int kViewFrameMs = 40;

class TViewFrames {
 public:
  explicit TViewFrames(std::function<void()> show, int frame_ms = kViewFrameMs);
  TViewFrames(const TViewFrames&) = delete;
  TViewFrames& operator=(const TViewFrames&) = delete;

  // Something new was gathered: shown now when the last frame is a frame ago, else with the
  // next frame.
  void Changed();
  // Shows what was gathered now, if anything: before a change that must come after it (a
  // panel's status, its removal).
  void ShowNow();
  // Gathered and not yet shown.
  bool Pending() const { return pending_; }

 private:
  void Show();

  std::function<void()> show_;
  int frame_ms_;
  QTimer timer_;
  QElapsedTimer last_frame_;  // invalid before the first frame
  bool pending_ = false;
};

}  // namespace updater
