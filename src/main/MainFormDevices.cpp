// The device panels: one per device the session lists, stacked in the order listed, with the
// status line, the write button and the progress bar the session's signals set; progress steps
// are shown a frame at a time with the log's lines (MainFormLog.cpp).
//
// Main thread only.

#include <QProgressBar>
#include <QPushButton>

#include "MainForm.h"

namespace updater {

TFWLoaderDevGroup* TMainForm::Panel(uint64_t id) const {
  const auto found = panels_.find(id);
  return found == panels_.end() ? nullptr : found->second.get();
}

void TMainForm::AddPanel(const TDeviceShown& device) {
  frames_.ShowNow();
  // The requested top is 80 times the number of devices listed with it.
  auto panel = std::make_unique<TFWLoaderDevGroup>(DevPanel, 80 * device.Position,
                                                   std::to_string(device.Serial),
                                                   device.FirmwareText, device.LoaderText);
  panel->btnWrite->setEnabled(device.BootMode);
  const uint64_t id = device.Id;
  connect(panel->btnWrite, &QPushButton::clicked, this, [this, id] { session_.RequestWrite(id); });
  panels_[id] = std::move(panel);
  SetDevAreaHeight();
}

void TMainForm::ShowStatus(uint64_t id, const TDeviceStatus& status) {
  // The lines and steps that led to this status are shown with it, not a frame after.
  frames_.ShowNow();
  if (TFWLoaderDevGroup* panel = Panel(id)) {
    ShowDevMessage(*panel, status.Message, status.MessageKind);
    panel->btnWrite->setEnabled(status.CanWrite);
  }
}

void TMainForm::ShowProgress(uint64_t id, int percent) {
  frame_progress_[id] = percent;
  frames_.Changed();
}

void TMainForm::RemovePanel(uint64_t id) {
  frames_.ShowNow();
  panels_.erase(id);
  SetDevAreaHeight();
}

// 96 pixels per device, or 90 with none, so that the scroll box scrolls when the panels do not
// fit.
void TMainForm::SetDevAreaHeight() {
  const auto count = static_cast<int>(panels_.size());
  DevPanel->setMinimumHeight(count == 0 ? kEmptyDevAreaHeight : kDevPanelPitch * count);
}

}  // namespace updater
