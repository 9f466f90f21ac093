#include "Integrity.h"

#include <QByteArray>
#include <QFile>

#include "IntegrityImage.h"
#include "IntegrityLayout.h"

extern "C" const volatile unsigned char updater_integrity_stamp[updater::kIntegrityStampSize];

namespace updater {

namespace {

// The running program's own stamp, read byte by byte through the volatile array.
QByteArray StampInMemory() {
  QByteArray stamp(static_cast<qsizetype>(kIntegrityStampSize), '\0');
  for (size_t i = 0; i < kIntegrityStampSize; ++i) {
    stamp[static_cast<qsizetype>(i)] = static_cast<char>(updater_integrity_stamp[i]);
  }
  return stamp;
}

}  // namespace

bool CheckIntegrity(const std::string& path) {
  const QByteArray stamp = StampInMemory();
  const QByteArray marker = stamp.left(static_cast<qsizetype>(kIntegrityMarkerSize));
  const QByteArray expected = stamp.mid(static_cast<qsizetype>(kIntegrityMarkerSize));
  if (expected.count('\0') == expected.size()) {
    return false;  // never stamped
  }
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) {
    return false;
  }
  const QByteArray image = file.readAll();
  const qsizetype offset = FindIntegrityStamp(image, marker);
  if (offset < 0) {
    return false;
  }
  return IntegrityDigest(image, offset) == expected;
}

}  // namespace updater
