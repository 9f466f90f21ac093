// The write button's handler, until job control has its own implementation. That
// implementation replaces this whole file.

#include "MainForm.h"

namespace updater {

void TMainForm::btnWriteClick() {}

}  // namespace updater
