// One running copy per user: an exclusive lock file in the runtime directory,
// and beside it a local socket on which the running copy takes window
// commands from other processes ("quillon --send-command 1148").
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <filesystem>
#include <string>

#include "platform/unique_fd.h"

namespace quillon {

// $XDG_RUNTIME_DIR, or /tmp/quillon-<uid> when it is unset.
std::filesystem::path RuntimeDirectory();

// The line that refuses the start when the lock folder (made 0700 when
// missing) or the device namespace is not the user's own; empty when both
// can be used.
std::string RuntimeFoldersRefusal();

class InstanceLock : public QObject {
    Q_OBJECT
  public:
    explicit InstanceLock(QString name, QObject* parent = nullptr);
    ~InstanceLock() override;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock (the name already exists).
    // Holding it, starts listening for commands.
    bool Acquire();

    // Hands a command to the copy that holds the lock; false when none runs
    // or it did not take the command.
    static bool SendCommand(const QString& name, int command);

  signals:
    void CommandReceived(int command);

  private:
    void OnConnection();

    QString m_name;
    platform::UniqueFd m_lockFd;
    QLocalServer m_server;
};

}  // namespace quillon
