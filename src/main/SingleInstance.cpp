#include "SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace updater {

Q_LOGGING_CATEGORY(lcInstance, "updater.instance", QtInfoMsg)

namespace {

constexpr char kRestoreRequest[] = "restore\n";
constexpr int kSocketWaitMs = 1000;

}  // namespace

TSingleInstance::TSingleInstance() = default;

TSingleInstance::~TSingleInstance() {
  if (server_) {
    server_->close();
  }
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
