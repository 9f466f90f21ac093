// The image source: the embedded image, or the file named by the view in file mode; its loading
// for a job (through the job's synchronous call) and for the read button.
//
// Main thread only.

#include <QFile>
#include <optional>
#include <vector>

#include "EmbeddedImage.h"
#include "FirmwareFileReader.h"
#include "UpdaterSession.h"

namespace updater {

bool TUpdaterSession::LoadCurrentImage() {
  TFirmwareBlockList blocks;
  return LoadImage(blocks, image_version_) && file_mode_;
}

bool TUpdaterSession::LoadImage(TFirmwareBlockList& blocks, TFirmwareVersion& version) {
  if (!blocks.empty()) {
    FreeBlocks(blocks);
  }
  const bool loaded =
      file_mode_ ? LoadImageFile(blocks, version) : LoadImageResource(blocks, version);
  if (!loaded) {
    log_.Add(kLogError, 0, "Ошибка загрузки прошивки");
    return false;
  }
  emit ImageLoaded(version);
  const std::string source =
      file_mode_ ? "файла \"" + image_file_.toStdString() + "\"" : std::string("ресурсов");
  log_.AddFormatted(kLogNormal, 0, "Загружена прошивка из %s", source.c_str());
  log_.AddFormatted(kLogNormal, 0, "Версия прошивки \"%s\"", version.VersionText().c_str());
  log_.AddFormatted(kLogNormal, 0, "Дата компиляции \"%s\"", version.BuildDateText().c_str());
  return true;
}

bool TUpdaterSession::LoadImageFile(TFirmwareBlockList& blocks, TFirmwareVersion& version) {
  const QByteArray path = QFile::encodeName(image_file_);
  TFirmwareFile file = ReadFirmwareFile(path.toStdString());
  switch (file.Status) {
    case TFirmwareFile::kNotFound:
      log_.AddFormatted(kLogError, 0, "Загрузка прошивки: Файл %s не найден",
                        image_file_.toStdString().c_str());
      return false;
    case TFirmwareFile::kUnreadable:
      return false;
    case TFirmwareFile::kTooLarge:
      // No image this long can pass the check; its length word decides which of the check's
      // outcomes the whole file would have met, without reading it.
      if (!file.LengthWordMatches) {
        log_.Add(kLogError, 0, kWrongImageSizeText);
        return false;
      }
      throw TFirmwareBlockTooLarge();
    case TFirmwareFile::kRead:
      break;
  }
  return ParseFirmwareImage(file.Bytes.data(), file.Bytes.size(), version, blocks, log_.Sink());
}

bool TUpdaterSession::LoadImageResource(TFirmwareBlockList& blocks, TFirmwareVersion& version) {
  std::optional<std::vector<uint8_t>> image = ReadEmbeddedImage();
  return image && ParseFirmwareImage(image->data(), image->size(), version, blocks, log_.Sink());
}

}  // namespace updater
