// ferroctl: command-line front for the library's exports.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/runtime_namespace.h"

#include "verbs_config.h"
#include "verbs_list.h"
#include "verbs_ops.h"

namespace {

struct Verb {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* help;
};

constexpr Verb kVerbs[] = {
    {"list", RunListVerb, "list                     the attached scanners (discovery table)"},
    {"watch", RunWatchVerb,
     "watch [--index N]        print each scan and connection change until Ctrl+C"},
    {"send", RunSendVerb, "send [--hex] CMD          send a command, print the reply"},
    {"identity", RunIdentityVerb,
     "identity ...             show or set product name, serials, mode"},
    {"flash", RunFlashVerb, "flash FILE               load a firmware file"},
    {"compare", RunCompareVerb, "compare FILE             does the scanner run this firmware?"},
    {"image", RunImageVerb, "image FILE               capture the last image to a file"},
    {"oplog", RunOpLogVerb, "oplog [DAY]              show the operation log of a day"},
    {"save-office", RunSaveOfficeVerb, "save-office              write Office.xml"},
    {"save-config", RunSaveConfigVerb, "save-config              write the configuration set"},
    {"write-config", RunWriteConfigVerb, "write-config FILE        write a configuration set"},
};

void PrintHelp() {
    std::printf("Usage: ferroctl VERB [ARGS]\n\nVerbs:\n");
    for (const Verb& verb : kVerbs)
        std::printf("  %s\n", verb.help);
    std::printf(
        "\n  --help, --version\n\nEach verb prints its own options with --help.\n"
        "Exit status 0 on success, 1 on failure.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintHelp();
        return argc < 2 ? 1 : 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("ferroctl 1.0.0\n");
        return 0;
    }
    for (const Verb& verb : kVerbs) {
        if (std::strcmp(argv[1], verb.name) != 0)
            continue;
        if (const std::string refusal = platform::RuntimeDirRefusal(); !refusal.empty()) {
            std::fprintf(stderr, "ferroctl: %s\n", refusal.c_str());
            return 1;
        }
        return verb.run(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "ferroctl: unknown verb '%s' (try --help)\n", argv[1]);
    return 1;
}
