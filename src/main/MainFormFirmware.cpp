// Firmware sources as the window shows them: the file named in edFWFile, the read and open
// buttons, the recent-file list and the two labels of the loaded image. The session loads it.
//
// Main thread only.

#include "Dialogs.h"
#include "MainForm.h"

namespace updater {

namespace {

constexpr char kOpenDialogFilter[] =
    "Encode Raw binary (*.eraw);;Raw binary (*.raw);;Any files (*)";

}  // namespace

void TMainForm::btnFwOpenClick() {
  const QString chosen =
      Dialogs().OpenFileName(this, edFWFile->currentText(), QString::fromUtf8(kOpenDialogFilter));
  if (chosen.isEmpty()) {
    return;
  }
  edFWFile->setEditText(chosen);
  btnFwLoadClick();
}

// An oversize payload throws out of here on purpose: the application's error box shows it.
void TMainForm::btnFwLoadClick() {
  // The session reads the box's text as it changes; a file that loaded goes into the list.
  if (!session_.LoadCurrentImage()) {
    return;
  }
  const QString text = edFWFile->currentText();
  for (int i = 0; i < edFWFile->count(); ++i) {
    if (edFWFile->itemText(i) == text) {
      return;
    }
  }
  edFWFile->insertItem(0, text);
  // Inserting into an empty list makes the new item current; the typed text must stay as is.
  if (edFWFile->currentText() != text) {
    edFWFile->setEditText(text);
  }
}

void TMainForm::ShowImageVersion(const TFirmwareVersion& version) {
  lblFileVer->setText(QString::fromStdString(version.VersionText()));
  lblFirmwDate->setText(QString::fromStdString(version.BuildDateText()));
  FitImageLabels();
}

}  // namespace updater
