// The window commands a second copy hands to the running one over the
// instance socket ("quillon --send-command 1148"): one decimal number per
// line, answered with "ok" once carried out.
#pragma once

#include <QByteArray>
#include <optional>

namespace quillon {

// The line a sender writes for a command, new line included.
QByteArray WindowCommandLine(int command);

// The command of one received line (new line and blanks around it
// allowed); none when the line is not a number that fits an int.
std::optional<int> ParseWindowCommand(const QByteArray& line);

}  // namespace quillon
