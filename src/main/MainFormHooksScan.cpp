// The scan's start, until the window's side of the scan has its own implementation. That
// implementation replaces this whole file.

#include "MainForm.h"

namespace updater {

bool TMainForm::StartScan() {
  return true;
}

}  // namespace updater
