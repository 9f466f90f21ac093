#pragma once
// One running updater per user. The first instance owns a lock file and serves a local socket;
// a later start finds the lock taken, asks the running instance over the socket to restore its
// window, and ends.
//
// Both names derive from ZIZUZFirmwareLoaderBaseMutex and the user and live in the user's
// runtime folder. A lock left by a killed instance is taken over (its process is gone), and so
// is the socket file it left behind.
//
// Threads: main thread.

#include <QLockFile>
#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

namespace updater {

// Start-up and restore traces ("updater.instance", debug level, off unless enabled by
// QT_LOGGING_RULES); the two-process tests read them.
Q_DECLARE_LOGGING_CATEGORY(lcInstance)

class TSingleInstance : public QObject {
  Q_OBJECT

 public:
  TSingleInstance();
  ~TSingleInstance() override;

  enum class TLock {
    Owned,        // this is the first instance until destruction
    Held,         // another instance holds the lock
    Unavailable,  // no lock file can be made here (folder missing or not writable)
  };
  // Waits at most 50 ms for the lock.
  TLock TryLock();

  // First instance: starts serving restore requests. False when the socket cannot be served.
  bool Listen();

  // Later instance: asks the running one to restore its window. False when no instance
  // answered (for example while it is still starting).
  bool SendRestore() const;

  QString LockPath() const { return base_ + QStringLiteral(".lock"); }
  QString ServerPath() const { return base_ + QStringLiteral(".socket"); }

 signals:
  void RestoreRequested();

 private:
  void Accept();

  QString base_;  // runtime folder + name, without suffix
  QLockFile lock_;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace updater
