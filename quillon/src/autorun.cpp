#include "autorun.h"

#include <cstdlib>
#include <fstream>

#include "platform/ascii_case.h"
#include "xdg_dirs.h"

namespace quillon {
namespace {

// The path as one argument of an Exec line: as it is unless it holds
// characters that the desktop entry format reserves (a blank, quotes, ...);
// then quoted, with the four characters that stay special inside the quotes
// escaped, or the session would run a different program.
std::string QuotedArgument(const std::string& path) {
    if (path.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) {
        return path;
    }
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

// The escapes of a string value in a desktop entry.
std::string StringValue(const std::string& text) {
    std::string value;
    for (char c : text) {
        switch (c) {
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            default:
                value += c;
        }
    }
    return value;
}

}  // namespace

std::string AutorunExecValue(const std::filesystem::path& programFile) {
    std::string line = QuotedArgument(programFile.string()) + " -autorun";
    std::string fieldSafe;
    for (char c : line) {
        fieldSafe += c;
        if (c == '%') {
            fieldSafe += '%';
        }
    }
    return StringValue(fieldSafe);
}

std::filesystem::path AutorunEntryPath() {
    return ConfigHome() / "autostart" / "quillon.desktop";
}

bool RegisterAutorun(const std::filesystem::path& programFile) {
    const std::filesystem::path entry = AutorunEntryPath();
    std::error_code error;
    std::filesystem::create_directories(entry.parent_path(), error);
    const std::filesystem::path temporary = entry.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "[Desktop Entry]\n"
            << "Type=Application\n"
            << "Name=Quillon\n"
            << "Comment=Delivers barcode scans at the cursor or to a web server\n"
            << "Exec=" << AutorunExecValue(programFile) << "\n"
            << "Terminal=false\n"
            << "X-GNOME-Autostart-enabled=true\n";
        if (!out.flush()) {
            std::filesystem::remove(temporary, error);
            return false;
        }
    }
    std::filesystem::rename(temporary, entry, error);
    return !error;
}

bool IsAutorunStart(int argc, const char* const* argv) {
    return argc == 2 && argv[1] != nullptr && platform::EqualNoCase(argv[1], "-autorun");
}

}  // namespace quillon
