#include "autorun.h"

#include <strings.h>

#include <cstdlib>
#include <fstream>

#include "xdg_dirs.h"

namespace quillon {
namespace {

// The Exec key takes the path as it is unless it holds characters that the
// desktop entry format reserves (a blank, quotes, ...): then it is quoted,
// or the session would run a different program.
std::string ExecProgram(const std::string& path) {
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

}  // namespace

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
            << "Exec=" << ExecProgram(programFile.string()) << " -autorun\n"
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
    return argc == 2 && argv[1] != nullptr && strcasecmp(argv[1], "-autorun") == 0;
}

}  // namespace quillon
