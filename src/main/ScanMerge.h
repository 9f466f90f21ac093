#pragma once
// The merge of an ended scan into the main window's device list: the cycle's error line, or
// the gone devices out and the new ones in, with their panels, their lines and, with automatic
// flashing, a click of their write button.
//
// Main thread only. DevList's membership changes here under DevListLock, never while waiting
// for another thread.

#include <functional>
#include <mutex>

#include "DevEntry.h"
#include "LogSink.h"
#include "ReadVersion.h"

class QPushButton;
class QWidget;

namespace updater {

// What the merge touches in the main window.
struct TScanTarget {
  TDevList* DevList = nullptr;
  std::mutex* DevListLock = nullptr;
  QWidget* DevPanel = nullptr;                     // the device area the panels stack in
  std::function<bool()> AutoWrite;                 // automatic flashing is ticked
  TLogSink Log;                                    // a finished line into the event log
  std::function<void(QPushButton*)> ConnectWrite;  // a click runs the window's write handler
};

void MergeScan(TReadVersion& scan, const TScanTarget& target);

// The panel of a device just appended to the list, stacked below the others; its requested
// top is 80 times the number of devices.
void CreateDevPanel(TDevEntry& dev, const TScanTarget& target);

// 96 pixels per device, or 90 with none, so that the scroll box scrolls when the panels do not
// fit.
void SetDevAreaHeight(const TScanTarget& target);

}  // namespace updater
