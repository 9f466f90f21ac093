// The device panels: one per device the session lists, stacked in the order listed, with the
// status line, the write button and the progress bar the session's signals set.
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
  if (TFWLoaderDevGroup* panel = Panel(id)) {
    ShowDevMessage(*panel, status.Message, status.MessageKind);
    panel->btnWrite->setEnabled(status.CanWrite);
  }
}

void TMainForm::ShowProgress(uint64_t id, int percent) {
  // A step that arrives after its device went has no panel to go to.
  if (TFWLoaderDevGroup* panel = Panel(id)) {
    panel->pbWrite->setValue(percent);
  }
}

void TMainForm::RemovePanel(uint64_t id) {
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
