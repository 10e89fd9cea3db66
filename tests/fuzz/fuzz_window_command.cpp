// What a second copy of Quillon sends on the instance socket: the running
// copy splits it into lines as the socket does and takes a command from
// every line that is a number. A line is taken exactly when it is an
// optionally signed decimal that fits an int, and the line a sender writes
// for any command reads back as that command.
#include <QByteArray>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "fuzz_check.h"
#include "window_command.h"

namespace {

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The number a line holds, read without Qt.
std::optional<int> Expected(std::string_view line) {
    while (!line.empty() && Blank(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && Blank(line.back()))
        line.remove_suffix(1);
    // A plus sign is allowed, but only before a digit.
    if (!line.empty() && line.front() == '+') {
        line.remove_prefix(1);
        if (line.empty() || line.front() < '0' || line.front() > '9')
            return std::nullopt;
    }
    int value = 0;
    const auto result = std::from_chars(line.data(), line.data() + line.size(), value);
    if (result.ec != std::errc() || result.ptr != line.data() + line.size())
        return std::nullopt;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // The socket hands out lines with their new line; a last line without
    // one waits for more and is not read.
    size_t from = 0;
    for (size_t end = text.find('\n'); end != std::string_view::npos;
         from = end + 1, end = text.find('\n', from)) {
        const std::string_view line = text.substr(from, end + 1 - from);
        const std::optional<int> command = quillon::ParseWindowCommand(
            QByteArray(line.data(), static_cast<qsizetype>(line.size())));
        FUZZ_CHECK(command == Expected(line));
    }

    if (size >= sizeof(int32_t)) {
        int32_t command;
        std::memcpy(&command, data, sizeof command);
        const QByteArray line = quillon::WindowCommandLine(command);
        FUZZ_CHECK(line.endsWith('\n') && line.count('\n') == 1);
        FUZZ_CHECK(quillon::ParseWindowCommand(line) == command);
    }
    return 0;
}
