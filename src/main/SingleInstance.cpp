#include "SingleInstance.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <vector>

namespace updater {

Q_LOGGING_CATEGORY(lcInstance, "updater.instance", QtInfoMsg)

namespace {

constexpr char kBaseName[] = "ZIZUZFirmwareLoaderBaseMutex";
constexpr char kRestoreRequest[] = "restore\n";
constexpr int kLockWaitMs = 50;
constexpr int kSocketWaitMs = 1000;

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

QString BasePath() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) {
    folder = QDir::tempPath();
  }
  QDir().mkpath(folder);
  return folder + QLatin1Char('/') + QLatin1String(kBaseName) + QLatin1Char('-') + UserName();
}

}  // namespace

TSingleInstance::TSingleInstance() : base_(BasePath()), lock_(LockPath()) {
  // Age alone never makes the lock stale: a running instance may hold it for days. A lock
  // whose process has died is still taken over.
  lock_.setStaleLockTime(0);
}

TSingleInstance::~TSingleInstance() {
  if (server_) {
    server_->close();
  }
}

TSingleInstance::TLock TSingleInstance::TryLock() {
  if (lock_.tryLock(kLockWaitMs)) {
    return TLock::Owned;
  }
  return lock_.error() == QLockFile::LockFailedError ? TLock::Held : TLock::Unavailable;
}

bool TSingleInstance::Listen() {
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // We hold the lock, so a socket file here can only be a leftover of a killed instance.
  QLocalServer::removeServer(ServerPath());
  if (!server_->listen(ServerPath())) {
    return false;
  }
  connect(server_.get(), &QLocalServer::newConnection, this, &TSingleInstance::Accept);
  qCDebug(lcInstance) << "serving restore requests";
  return true;
}

void TSingleInstance::Accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      // Only the request line counts; anything else from the socket is dropped.
      while (socket->canReadLine()) {
        if (socket->readLine(64) == kRestoreRequest) {
          emit RestoreRequested();
        }
      }
      if (socket->bytesAvailable() > 64) {
        socket->abort();
      }
    });
  }
}

bool TSingleInstance::SendRestore() const {
  QLocalSocket socket;
  socket.connectToServer(ServerPath());
  if (!socket.waitForConnected(kSocketWaitMs)) {
    return false;
  }
  socket.write(kRestoreRequest);
  const bool sent = socket.waitForBytesWritten(kSocketWaitMs);
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) {
    socket.waitForDisconnected(kSocketWaitMs);
  }
  return sent;
}

}  // namespace updater
