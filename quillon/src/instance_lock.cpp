#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalSocket>
#include <cstdlib>

namespace quillon {
namespace {

constexpr int kSendWaitMs = 3000;

std::filesystem::path LockFile(const QString& name) {
    return RuntimeDirectory() / (name.toStdString() + ".lock");
}

QString SocketPath(const QString& name) {
    return QString::fromStdString((RuntimeDirectory() / (name.toStdString() + ".sock")).string());
}

}  // namespace

std::filesystem::path RuntimeDirectory() {
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    std::filesystem::path fallback = "/tmp/quillon-" + std::to_string(getuid());
    mkdir(fallback.c_str(), 0700);
    return fallback;
}

InstanceLock::InstanceLock(QString name, QObject* parent)
    : QObject(parent), m_name(std::move(name)) {
    connect(&m_server, &QLocalServer::newConnection, this, &InstanceLock::OnConnection);
}

InstanceLock::~InstanceLock() {
    m_server.close();
    if (m_lockFd >= 0) {
        close(m_lockFd);
    }
}

bool InstanceLock::Acquire() {
    int fd = open(LockFile(m_name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        // Without a place for the lock the program still runs, alone or not.
        return true;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    m_lockFd = fd;
    // A socket left by a copy that died is ours to replace: we hold the lock.
    QLocalServer::removeServer(SocketPath(m_name));
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.listen(SocketPath(m_name));
    return true;
}

void InstanceLock::OnConnection() {
    while (QLocalSocket* client = m_server.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            while (client->canReadLine()) {
                bool ok = false;
                int command = client->readLine().trimmed().toInt(&ok);
                if (ok) {
                    emit CommandReceived(command);
                    client->write("ok\n");
                }
            }
        });
    }
}

bool InstanceLock::SendCommand(const QString& name, int command) {
    QLocalSocket socket;
    socket.connectToServer(SocketPath(name));
    if (!socket.waitForConnected(kSendWaitMs)) {
        return false;
    }
    socket.write(QByteArray::number(command) + '\n');
    if (!socket.waitForBytesWritten(kSendWaitMs)) {
        return false;
    }
    // The running copy answers once the command has been carried out.
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kSendWaitMs)) {
            return false;
        }
    }
    return socket.readLine().trimmed() == "ok";
}

}  // namespace quillon
