// ferroctl: command-line front for the library's exports.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
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
    {"list", RunListVerb, "list [--json]             the attached scanners (discovery table)"},
    {"watch", RunWatchVerb,
     "watch [--index N] [--json] print each scan and connection change until Ctrl+C"},
    {"send", RunSendVerb, "send [--hex] CMD          send a command, print the reply"},
    {"identity", RunIdentityVerb,
     "identity ... [--json]     show or set product name, serials, mode"},
    {"flash", RunFlashVerb, "flash FILE                load a firmware file"},
    {"compare", RunCompareVerb, "compare [--json] FILE     does the scanner run this firmware?"},
    {"image", RunImageVerb, "image FILE.png|FILE.pgm   capture the last image to a file"},
    {"oplog", RunOpLogVerb, "oplog [--json] [DAY]      show the operation log of a day"},
    {"save-office", RunSaveOfficeVerb, "save-office               write Office.xml"},
    {"save-config", RunSaveConfigVerb, "save-config [FILE]        write the configuration set"},
    {"write-config", RunWriteConfigVerb, "write-config FILE         write a configuration set"},
};

void PrintHelp(FILE* out) {
    std::fprintf(out, "Usage: ferroctl [-v] [--json] VERB [ARGS]\n\nVerbs:\n");
    for (const Verb& verb : kVerbs)
        std::fprintf(out, "  %s\n", verb.help);
    std::fprintf(out,
                 "\n"
                 "  -v, --verbose   let the library's log lines (with time stamps) through to\n"
                 "                  standard error; otherwise only ferroctl's own lines appear\n"
                 "  --json          machine-readable output of list, identity show, watch\n"
                 "                  (one object per line), oplog and compare\n"
                 "  --help, --version\n"
                 "\n"
                 "Each verb prints its own options with --help. `flash compare FILE` is the same\n"
                 "as `compare FILE`.\n"
                 "\n"
                 "Exit status:\n"
                 "  0  everything asked was done\n"
                 "  1  the scanner, the port or a file said no (or did only part of it, as when\n"
                 "     the scanner refused some settings): one line on standard error says why\n"
                 "  2  the command line was wrong (unknown verb or option, missing argument)\n"
                 "\n"
                 "Environment:\n"
                 "  TIDESTREAM_LOG_LEVEL  the library's log lines up to this level reach standard\n"
                 "                        error (2 errors, 4 events, 5 traces); -v means 5\n"
                 "  TIDESTREAM_LOG_FILE   append those lines to this file instead\n"
                 "  KTR_RUNTIME_DIR       the runtime namespace where scanners are found\n");
}

// The library writes its log lines to standard error up to the level in
// TIDESTREAM_LOG_LEVEL. A user who set it, or asked with -v, sees them; by
// default they stay out of ferroctl's own messages.
void ChooseLibraryLog(bool verbose) {
    if (std::getenv("TIDESTREAM_LOG_LEVEL") != nullptr)
        return;
    ::setenv("TIDESTREAM_LOG_LEVEL", verbose ? "5" : "0", 1);
}

}  // namespace

int main(int argc, char** argv) {
    // Code page 0 (scans that are not UTF-8) is the locale's charset.
    std::setlocale(LC_ALL, "");
    // -v may stand anywhere; --json before the verb is handed to the verb;
    // the verbs see the other arguments in order.
    std::vector<char*> args;
    bool verbose = false;
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && (std::strcmp(argv[i], "-v") == 0 || std::strcmp(argv[i], "--verbose") == 0))
            verbose = true;
        else if (args.size() == 1 && std::strcmp(argv[i], "--json") == 0)
            json = true;
        else
            args.push_back(argv[i]);
    }
    static char jsonOption[] = "--json";
    if (json && args.size() >= 2)
        args.insert(args.begin() + 2, jsonOption);
    const int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    ChooseLibraryLog(verbose);
    if (count < 2) {
        PrintHelp(stderr);
        return ferroctl::kExitUsage;
    }
    if (std::strcmp(args[1], "--help") == 0 || std::strcmp(args[1], "-h") == 0) {
        PrintHelp(stdout);
        return ferroctl::kExitOk;
    }
    if (std::strcmp(args[1], "--version") == 0) {
        std::printf("ferroctl 1.0.0\n");
        return ferroctl::kExitOk;
    }
    for (const Verb& verb : kVerbs) {
        if (std::strcmp(args[1], verb.name) != 0)
            continue;
        if (const std::string refusal = platform::RuntimeDirRefusal(); !refusal.empty())
            return ferroctl::Fail(refusal);
        return verb.run(count - 2, args.data() + 2);
    }
    return ferroctl::Usage("", std::string("unknown verb '") + args[1] + "'");
}
