// quillon: delivers every scan of the scanner at the text cursor of the
// focused application or to a web server.
#include <QApplication>
#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app.h"
#include "instance_lock.h"
#include "platform/ascii_case.h"
#include "platform/module_path.h"
#include "version_text.h"

namespace {

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: quillon [--headless [--json]] [-autorun]\n"
                 "       quillon --send-command N\n"
                 "       quillon --help | --version\n"
                 "\n"
                 "Finds the scanner and delivers every scan at the text cursor of the focused\n"
                 "application (clipboard and Ctrl+V) or as an HTTP POST, as ktr.ini says.\n"
                 "\n"
                 "  --headless          no window and no tray icon: status texts and balloons\n"
                 "                      are printed to standard output\n"
                 "  --json              with --headless: one JSON object per status text,\n"
                 "                      balloon or prompt, a line each (NDJSON)\n"
                 "  -autorun            the start at logon (the autostart entry is not rewritten)\n"
                 "  --send-command N    hands window command N to the running copy:\n"
                 "                      1147 Directoutput=0, 1148 Directoutput=1,\n"
                 "                      1149 the code page dialog\n"
                 "  --help, --version   this text, the program's version\n"
                 "\n"
                 "Settings: ktr.ini beside the program when its directory is writable,\n"
                 "otherwise $XDG_CONFIG_HOME/quillon/ktr.ini.\n"
                 "\n"
                 "Exit status: 0 when the program ran and ended normally (or handed its\n"
                 "command to the running copy), 1 when it could not run (with the reason\n"
                 "on standard error), 2 for a usage error.\n");
}

// Window command identifiers are 16 bits wide, as in a WM_COMMAND message.
constexpr long kLargestCommand = 65535;

int SendCommand(char* programName, const char* text) {
    char* end = nullptr;
    errno = 0;
    long command = std::strtol(text, &end, 10);
    if (end == text || *end != '\0') {
        std::fprintf(stderr, "quillon: --send-command needs a number, not \"%s\"\n", text);
        return 2;
    }
    if (errno == ERANGE || command < 0 || command > kLargestCommand) {
        std::fprintf(stderr, "quillon: --send-command takes a number from 0 to %ld, not %s\n",
                     kLargestCommand, text);
        return 2;
    }
    int qtArgc = 1;
    char* qtArgv[] = {programName, nullptr};
    QCoreApplication app(qtArgc, qtArgv);
    if (!quillon::InstanceLock::SendCommand(QStringLiteral("Quillon"), static_cast<int>(command))) {
        std::fprintf(stderr, "quillon: no running copy took command %ld\n", command);
        return 1;
    }
    return 0;
}

bool EnvironmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

bool HaveDisplay() {
    return EnvironmentSet("DISPLAY") || EnvironmentSet("WAYLAND_DISPLAY") ||
           EnvironmentSet("QT_QPA_PLATFORM");
}

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv, bool headless) {
    const bool haveDisplay = HaveDisplay();
    // Headless without a display has no clipboard either; with one, the
    // clipboard and key strokes of cursor output still work.
    if (headless && !haveDisplay) {
        return std::make_unique<QCoreApplication>(argc, argv);
    }
    return std::make_unique<QApplication>(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    bool headless = false;
    bool json = false;
    std::vector<std::string> arguments{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            PrintUsage(stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Quillon %s\n",
                        quillon::GetFileVersionText(platform::ModuleFilePath(), false)
                            .toUtf8()
                            .constData());
            return 0;
        }
        if (std::strcmp(argv[i], "--send-command") == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quillon: --send-command needs a number\n");
                return 2;
            }
            return SendCommand(argv[0], argv[i + 1]);
        }
        if (std::strcmp(argv[i], "--headless") == 0) {
            headless = true;
            continue;
        }
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
            continue;
        }
        // Whether it makes an autorun start is decided by the count later.
        if (!platform::EqualNoCase(argv[i], "-autorun")) {
            std::fprintf(stderr, "quillon: unknown argument \"%s\"\n\n", argv[i]);
            PrintUsage(stderr);
            return 2;
        }
        arguments.emplace_back(argv[i]);
    }
    if (json && !headless) {
        std::fprintf(stderr, "quillon: --json needs --headless\n");
        return 2;
    }
    if (const std::string refusal = quillon::RuntimeFoldersRefusal(); !refusal.empty()) {
        std::fprintf(stderr, "quillon: %s\n", refusal.c_str());
        return 1;
    }
    if (!headless && !HaveDisplay()) {
        std::fprintf(stderr, "quillon: no display to show the window on; use --headless\n");
        return 1;
    }
    int qtArgc = 1;
    std::unique_ptr<QCoreApplication> app = MakeApplication(qtArgc, argv, headless);
    quillon::CAutoTabAppApp theApp(headless, json);
    return theApp.Run(arguments);
}
