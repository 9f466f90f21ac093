// Firmware-source handlers, until the firmware sources have their own implementation. That
// implementation replaces this whole file.

#include "MainForm.h"

namespace updater {

void TMainForm::btnFwLoadClick() {}

void TMainForm::btnFwOpenClick() {}

}  // namespace updater

namespace updater {

bool TMainForm::LoadFirmware(TFirmwareBlockList&, TFirmwareVersion&) { return false; }

bool TMainForm::LoadFirmwareFile(TFirmwareBlockList&, TFirmwareVersion&) { return false; }

bool TMainForm::LoadFirmwareResource(TFirmwareBlockList&, TFirmwareVersion&) { return false; }

}  // namespace updater
