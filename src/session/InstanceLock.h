#pragma once
// The lock that lets one program of the package at a time work with the trackers: the window
// and the headless station take the same lock file in the user's runtime folder. The lock file
// names the program that holds it, so that the second to start can say which one it is.
//
// The name derives from ZIZUZFirmwareLoaderBaseMutex and the user. A lock left by a killed
// program is taken over (its process is gone); age alone never makes it stale.
//
// Threads: main thread. The lock is held until the object goes.

#include <QLockFile>
#include <QString>

namespace updater {

class TInstanceLock {
 public:
  TInstanceLock();

  enum class TLock {
    Owned,        // this program holds the lock until destruction
    Held,         // another program holds it
    Unavailable,  // no lock file can be made here (folder missing or not writable)
  };
  // Waits at most 50 ms for the lock.
  TLock TryLock();

  // Another holder's program name (its application name) and process id; false when the lock
  // file cannot be read.
  bool Holder(QString& program, qint64& pid) const;

  // The runtime folder and name, without suffix; the window's restore socket lives beside it.
  const QString& BasePath() const { return base_; }
  QString LockPath() const { return base_ + QStringLiteral(".lock"); }

 private:
  QString base_;
  QLockFile lock_;
};

}  // namespace updater
