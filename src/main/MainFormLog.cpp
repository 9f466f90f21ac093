// The event log's view: the session's lines in reLog, coloured by kind, shown a frame at a time
// together with the panels' progress steps. The daily file is the session's own consumer of the
// same lines, at once.
//
// Main thread only.

#include <QProgressBar>

#include "LogView.h"
#include "MainForm.h"

namespace updater {

void TMainForm::ShowLogLine(int kind, const std::string& line) {
  frame_lines_.push_back({kind, QString::fromUtf8(line)});
  frames_.Changed();
}

void TMainForm::ShowFrame() {
  AppendLogLines(*reLog, frame_lines_);
  frame_lines_.clear();
  for (const auto& [id, percent] : frame_progress_) {
    // A step whose device went meanwhile has no panel to go to.
    if (TFWLoaderDevGroup* panel = Panel(id)) {
      panel->pbWrite->setValue(percent);
    }
  }
  frame_progress_.clear();
}

}  // namespace updater
