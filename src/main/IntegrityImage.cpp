#include "IntegrityImage.h"

#include <QCryptographicHash>

#include "IntegrityLayout.h"

namespace updater {

qsizetype FindIntegrityStamp(const QByteArray& image, const QByteArray& marker) {
  const qsizetype first = image.indexOf(marker);
  if (first < 0 || image.indexOf(marker, first + 1) >= 0) {
    return -1;
  }
  if (image.size() - first < static_cast<qsizetype>(kIntegrityStampSize)) {
    return -1;
  }
  return first;
}

QByteArray IntegrityDigest(QByteArray image, qsizetype stamp_offset) {
  const qsizetype slot = stamp_offset + static_cast<qsizetype>(kIntegrityMarkerSize);
  for (qsizetype i = 0; i < static_cast<qsizetype>(kIntegrityDigestSize); ++i) {
    image[slot + i] = '\0';
  }
  return QCryptographicHash::hash(image, QCryptographicHash::Sha256);
}

}  // namespace updater
