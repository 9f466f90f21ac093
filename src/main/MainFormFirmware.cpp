// Firmware sources: the embedded image or the file named in edFWFile, the read and open
// buttons, the recent-file list and the two labels.
//
// Threads: main thread only. A write job reaches LoadFirmware through its synchronous call.

#include <QFile>
#include <optional>
#include <string>
#include <vector>

#include "Dialogs.h"
#include "EmbeddedImage.h"
#include "FirmwareFileReader.h"
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
  TFirmwareBlockList blocks;
  if (!LoadFirmware(blocks, FFirmwareVersion) || FResourceFirmware) {
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

bool TMainForm::LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& version) {
  if (!blocks.empty()) {
    FreeBlocks(blocks);
  }
  const bool loaded =
      FExternFirmware ? LoadFirmwareFile(blocks, version) : LoadFirmwareResource(blocks, version);
  if (!loaded) {
    LogMsg(kLogError, "Ошибка загрузки прошивки");
    return false;
  }

  const std::string version_text = version.VersionText();
  const std::string date_text = version.BuildDateText();
  lblFileVer->setText(QString::fromStdString(version_text));
  lblFirmwDate->setText(QString::fromStdString(date_text));
  FitImageLabels();

  const std::string source = FExternFirmware
                                 ? "файла \"" + edFWFile->currentText().toStdString() + "\""
                                 : std::string("ресурсов");
  LogMsg(kLogNormal, "Загружена прошивка из %s", source.c_str());
  LogMsg(kLogNormal, "Версия прошивки \"%s\"", version_text.c_str());
  LogMsg(kLogNormal, "Дата компиляции \"%s\"", date_text.c_str());
  return true;
}

bool TMainForm::LoadFirmwareFile(TFirmwareBlockList& blocks, TFirmwareVersion& version) {
  if (!FExternFirmware) {
    return false;
  }
  const QString name = edFWFile->currentText();
  const QByteArray path = QFile::encodeName(name);

  TFirmwareFile file = ReadFirmwareFile(path.toStdString());
  switch (file.Status) {
    case TFirmwareFile::kNotFound:
      LogMsg(kLogError, "Загрузка прошивки: Файл %s не найден", name.toStdString().c_str());
      return false;
    case TFirmwareFile::kUnreadable:
      return false;
    case TFirmwareFile::kTooLarge:
      // No image this long can pass the check; its length word decides which of the check's
      // outcomes the whole file would have met, without reading it.
      if (!file.LengthWordMatches) {
        LogMsg(kLogError, "%s", kWrongImageSizeText);
        return false;
      }
      throw TFirmwareBlockTooLarge();
    case TFirmwareFile::kRead:
      break;
  }
  return ParseFirmwareImage(file.Bytes.data(), file.Bytes.size(), version, blocks, LogSink());
}

bool TMainForm::LoadFirmwareResource(TFirmwareBlockList& blocks, TFirmwareVersion& version) {
  if (FExternFirmware) {
    return false;
  }
  bool result = false;
  if (std::optional<std::vector<uint8_t>> image = ReadEmbeddedImage()) {
    result = ParseFirmwareImage(image->data(), image->size(), version, blocks, LogSink());
  }
  FResourceFirmware = result;
  return result;
}

}  // namespace updater
