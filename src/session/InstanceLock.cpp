#include "InstanceLock.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QStandardPaths>
#include <vector>

namespace updater {

namespace {

constexpr char kBaseName[] = "ZIZUZFirmwareLoaderBaseMutex";
constexpr int kLockWaitMs = 50;

QString UserName() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_name != nullptr) {
    return QString::fromLocal8Bit(found->pw_name);
  }
  return QString::number(::getuid());
}

QString MakeBasePath() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) {
    folder = QDir::tempPath();
  }
  QDir().mkpath(folder);
  return folder + QLatin1Char('/') + QLatin1String(kBaseName) + QLatin1Char('-') + UserName();
}

}  // namespace

TInstanceLock::TInstanceLock() : base_(MakeBasePath()), lock_(LockPath()) {
  // Age alone never makes the lock stale: a running program may hold it for days. A lock whose
  // process has died is still taken over.
  lock_.setStaleLockTime(0);
}

TInstanceLock::TLock TInstanceLock::TryLock() {
  if (lock_.tryLock(kLockWaitMs)) {
    return TLock::Owned;
  }
  return lock_.error() == QLockFile::LockFailedError ? TLock::Held : TLock::Unavailable;
}

bool TInstanceLock::Holder(QString& program, qint64& pid) const {
  QString host;
  return lock_.getLockInfo(&pid, &host, &program);
}

}  // namespace updater
