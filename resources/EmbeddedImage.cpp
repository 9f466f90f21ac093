#include "EmbeddedImage.h"

#include <QFile>

namespace updater {

std::optional<std::vector<uint8_t>> ReadEmbeddedImage() {
  QFile resource(kEmbeddedImagePath);
  if (!resource.open(QIODevice::ReadOnly)) {
    return std::nullopt;
  }
  const qint64 size = resource.size();
  if (size <= 0) {
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (resource.read(reinterpret_cast<char*>(bytes.data()), size) != size) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace updater
