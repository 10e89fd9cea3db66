#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalSocket>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/private_folder.h"
#include "platform/runtime_namespace.h"

#include "window_command.h"

namespace quillon {
namespace {

constexpr int kSendWaitMs = 3000;
constexpr std::string_view kLockFolderAdvice = "set XDG_RUNTIME_DIR to a folder of your own";

// The lock folder, made 0700 when missing and refused unless it is the
// user's own.
platform::Result<platform::PrivateFolder> OpenLockFolder() {
    return platform::PrivateFolder::Open(RuntimeDirectory(), true, kLockFolderAdvice);
}

QString SocketPath(const QString& name) {
    return QString::fromStdString((RuntimeDirectory() / (name.toStdString() + ".sock")).string());
}

}  // namespace

std::filesystem::path RuntimeDirectory() {
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    return "/tmp/quillon-" + std::to_string(getuid());
}

std::string RuntimeFoldersRefusal() {
    if (const auto folder = OpenLockFolder(); !folder) {
        const platform::Error error = folder.GetError();
        return error.message.empty() ? "cannot open " + RuntimeDirectory().string() : error.message;
    }
    return platform::RuntimeDirRefusal();
}

InstanceLock::InstanceLock(QString name, QObject* parent)
    : QObject(parent), m_name(std::move(name)) {
    connect(&m_server, &QLocalServer::newConnection, this, &InstanceLock::OnConnection);
}

InstanceLock::~InstanceLock() {
    m_server.close();
}

bool InstanceLock::Acquire() {
    const auto folder = OpenLockFolder();
    const platform::Error error = folder.GetError();
    if (!folder && !error.message.empty()) {
        // Somebody else's folder: a lock there says nothing about our copies.
        std::fprintf(stderr, "quillon: %s\n", error.message.c_str());
        return false;
    }
    const std::string lockName = m_name.toStdString() + ".lock";
    platform::UniqueFd fd(folder ? openat(folder->Fd(), lockName.c_str(),
                                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)
                                 : -1);
    if (!fd) {
        // Without a place for the lock the program still runs, alone or not.
        return true;
    }
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    m_lockFd = std::move(fd);
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
                if (const auto command = ParseWindowCommand(client->readLine())) {
                    emit CommandReceived(*command);
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
    socket.write(WindowCommandLine(command));
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
