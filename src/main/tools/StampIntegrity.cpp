// Build step: writes the executable's digest into its stamp slot (see IntegrityLayout.h).
// Usage: stamp_integrity <executable>. Fails the build when the marker is not found exactly
// once, since the program could then never pass its own check.

#include <QByteArray>
#include <QFile>
#include <cstdio>

#include "IntegrityImage.h"
#include "IntegrityLayout.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: stamp_integrity <executable>\n");
    return 2;
  }
  QFile file(QString::fromLocal8Bit(argv[1]));
  if (!file.open(QIODevice::ReadWrite)) {
    std::fprintf(stderr, "stamp_integrity: cannot open %s\n", argv[1]);
    return 1;
  }
  const QByteArray image = file.readAll();
  static const unsigned char marker_bytes[] = {UPDATER_INTEGRITY_MARKER};
  const QByteArray marker(reinterpret_cast<const char*>(marker_bytes), sizeof marker_bytes);
  const qsizetype offset = updater::FindIntegrityStamp(image, marker);
  if (offset < 0) {
    std::fprintf(stderr, "stamp_integrity: %s holds the stamp marker not exactly once\n", argv[1]);
    return 1;
  }
  const QByteArray digest = updater::IntegrityDigest(image, offset);
  if (!file.seek(offset + static_cast<qsizetype>(updater::kIntegrityMarkerSize)) ||
      file.write(digest) != digest.size() || !file.flush()) {
    std::fprintf(stderr, "stamp_integrity: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
