#pragma once
// The stamp inside an executable's file image, shared by the build step that writes it and the
// program that checks it.

#include <QByteArray>

namespace updater {

// Offset of the stamp (marker and slot) in the file image, or -1 when the marker is missing,
// appears more than once, or leaves no room for the slot.
qsizetype FindIntegrityStamp(const QByteArray& image, const QByteArray& marker);

// The digest the slot must hold: SHA-256 of the image with the slot at stamp_offset zeroed.
QByteArray IntegrityDigest(QByteArray image, qsizetype stamp_offset);

}  // namespace updater
