#include "window_command.h"

namespace quillon {

QByteArray WindowCommandLine(int command) {
    return QByteArray::number(command) + '\n';
}

std::optional<int> ParseWindowCommand(const QByteArray& line) {
    // toInt reads a NUL as the end of the number and would take "7\0junk".
    if (line.contains('\0')) {
        return std::nullopt;
    }
    bool ok = false;
    const int command = line.trimmed().toInt(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return command;
}

}  // namespace quillon
