// The window's side of the scan: one scan at a time, one more when a device change came in
// while it ran, the merge of each ended scan, the device panels, and the source of device-change
// notifications.
//
// Main thread only; the scan thread reaches back through LogSink() and ScanDone.

#include <QPushButton>

#include "DevPanelGroup.h"
#include "HotPlugSource.h"
#include "MainForm.h"
#include "ReadVersion.h"
#include "ScanMerge.h"

namespace updater {

namespace {

constexpr int kSpoiledScanRetries = 3;

TScanTarget ScanTargetOf(TMainForm& form) {
  TScanTarget target;
  target.DevList = &form.DevList;
  target.DevListLock = &form.DevListLock;
  target.DevPanel = form.DevPanel;
  target.AutoWrite = [&form] { return form.cbAutoWrite->isChecked(); };
  target.Log = form.LogSink();
  target.ConnectWrite = [&form](QPushButton* button) {
    QObject::connect(button, &QPushButton::clicked, &form, &TMainForm::btnWriteClick);
  };
  return target;
}

}  // namespace

bool TMainForm::StartScan() {
  // Device changes are watched from the first scan on; the first scan covers everything
  // that came before it.
  if (HotPlug == nullptr) {
    HotPlug = new THotPlugSource(THotPlugSource::DeviceDirectories(), true, this);
    connect(HotPlug, &THotPlugSource::Changed, this, &TMainForm::DeviceChange);
  }
  if (Dispatcher.ShuttingDown()) {
    return true;  // the window is closing: no new worker
  }
  if (ScanThread != nullptr) {
    // A device plugged now may already be past the running scan's listing: look again as soon
    // as that scan ends, instead of waiting for the next change.
    FRescanPending = true;
    return true;
  }
  TScanContext context;
  context.Ftdi = FtdiLibrary.get();
  context.Ql = QlLibrary.get();
  context.DevList = &DevList;
  context.DevListLock = &DevListLock;
  context.Sink = LogSink();
  context.Notices = &ScanNotices;
  auto* scan = new TReadVersion(Dispatcher, std::move(context));
  ScanThread = scan;
  scan->FreeOnTerminate = true;
  scan->OnTerminate = [this](TWorkerThread* worker) {
    ScanDone(*static_cast<TReadVersion*>(worker));
  };
  scan->Start();
  return true;
}

void TMainForm::ScanDone(TReadVersion& scan) {
  // Stopped by the shutdown: nothing of it is shown, and no scan follows.
  const bool stopped = scan.Terminated() || Dispatcher.ShuttingDown();
  bool retry = false;
  if (!stopped) {
    MergeScan(scan, ScanTargetOf(*this));
    // A device that was slow to answer spoils the cycle, and nothing else would look again
    // until some device changes: on a busy machine a plugged tracker then stays unseen. Look
    // again a few times; a device that never answers costs only those few cycles.
    if (scan.ErrorCode == 0) {
      FSpoiledRetries = 0;
    } else if (FSpoiledRetries < kSpoiledScanRetries) {
      ++FSpoiledRetries;
      retry = true;
    }
  }
  ScanThread = nullptr;
  if (FRescanPending && !stopped) {
    FRescanPending = false;
    StartScan();
  } else if (retry) {
    DevTimer.start();
  }
}

void TMainForm::CreateDevPanel(TDevEntry& dev) {
  updater::CreateDevPanel(dev, ScanTargetOf(*this));
}

void TMainForm::ShowDevMessage(TDevEntry& dev, const std::string& text, int kind) {
  updater::ShowDevMessage(dev, text, kind);
}

}  // namespace updater
