// The event log's view: the session's lines in reLog, coloured by kind. The daily file is the
// session's own consumer of the same lines.
//
// Main thread only.

#include "LogView.h"
#include "MainForm.h"

namespace updater {

void TMainForm::ShowLogLine(int kind, const std::string& line) {
  AppendLogLine(*reLog, kind, QString::fromUtf8(line));
}

}  // namespace updater
