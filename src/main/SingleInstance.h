#pragma once
// One running updater per user. The first instance owns the package's instance lock
// (InstanceLock.h, shared with the headless station) and serves a local socket; a later start
// finds the lock taken, asks the running instance over the socket to restore its window, and
// ends.
//
// Both names derive from ZIZUZFirmwareLoaderBaseMutex and the user and live in the user's
// runtime folder. A lock left by a killed instance is taken over (its process is gone), and so
// is the socket file it left behind.
//
// Threads: main thread.

#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <memory>

#include "InstanceLock.h"

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

  using TLock = TInstanceLock::TLock;
  // Waits at most 50 ms for the lock.
  TLock TryLock() { return lock_.TryLock(); }
  // The program that holds the lock (another instance, or the station); false when unknown.
  bool Holder(QString& program, qint64& pid) const { return lock_.Holder(program, pid); }

  // First instance: starts serving restore requests. False when the socket cannot be served.
  bool Listen();

  // Later instance: asks the running one to restore its window. False when no instance
  // answered (for example while it is still starting).
  bool SendRestore() const;

  QString LockPath() const { return lock_.LockPath(); }
  QString ServerPath() const { return lock_.BasePath() + QStringLiteral(".socket"); }

 signals:
  void RestoreRequested();

 private:
  void Accept();

  TInstanceLock lock_;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace updater
