// Settings steps of start-up and shutdown, until the settings file has its own implementation.
// That implementation replaces this whole file.

#include "MainForm.h"

namespace updater {

void TMainForm::LoadSettings() {}

void TMainForm::SaveSettings() {}

}  // namespace updater
