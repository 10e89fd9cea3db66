// ferroctl verbs for the configuration files.
#include "verbs_config.h"

#include <tinyxml.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ferrolink/config.h"
#include "ferrolink/discovery.h"
#include "xml_depth.h"

namespace {

struct DeviceChoice {
    int comPort = 0;  // 0: the first scanner discovery finds
    int baudRate = 115200;
};

struct ConfigArgs {
    DeviceChoice device;
    bool help = false;
    std::vector<std::string> positional;
    bool portForm = false;  // write through the COM port itself, keeping the link settings
    bool unified = false;
    bool saveType = false;
    std::string error;
};

bool ParseNumber(const char* text, int* value) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || n <= 0 || n > 10000000)
        return false;
    *value = static_cast<int>(n);
    return true;
}

ConfigArgs ParseArgs(int argc, char** argv) {
    ConfigArgs args;
    for (int i = 0; i < argc && args.error.empty(); ++i) {
        const std::string arg = argv[i];
        auto number = [&](int* out) {
            if (i + 1 >= argc || !ParseNumber(argv[++i], out))
                args.error = arg + " needs a number";
        };
        if (arg == "--help") {
            args.help = true;
        } else if (arg == "--com") {
            number(&args.device.comPort);
        } else if (arg == "--port") {
            number(&args.device.comPort);
            args.portForm = true;
        } else if (arg == "--baud") {
            number(&args.device.baudRate);
        } else if (arg == "--unified") {
            args.unified = true;
        } else if (arg == "--save-type") {
            args.saveType = true;
        } else if (arg.rfind("--", 0) == 0) {
            args.error = "unknown option " + arg;
        } else {
            args.positional.push_back(arg);
        }
    }
    return args;
}

bool ChooseRecord(const DeviceChoice& choice, _QVDeviceInfo* record, std::string* error) {
    std::memset(static_cast<void*>(record), 0, sizeof(*record));
    if (choice.comPort != 0) {
        ComPortSettings settings{static_cast<uint16_t>(choice.comPort),
                                 static_cast<uint32_t>(choice.baudRate), 8};
        std::memcpy(&record->connInfo, &settings, sizeof(settings));
        record->nPortType = 1;
        return true;
    }
    std::vector<_QVDeviceInfo> found(20);
    std::memset(static_cast<void*>(found.data()), 0, found.size() * sizeof(_QVDeviceInfo));
    if (qv_GetDevice(found.data(), static_cast<int>(found.size())) <= 0) {
        *error = "no scanner found";
        return false;
    }
    *record = found[0];  // the copy gets no connection object of its own
    return true;
}

// Runs `work` while a progress line shows the elapsed time: rewritten in place
// on a terminal, one line at the start and one at the end otherwise.
bool WithProgress(const std::string& what, const std::function<bool()>& work) {
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::atomic<bool> done{false};
    bool ok = false;
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    std::thread worker([&] {
        ok = work();
        done = true;
    });
    if (!terminal)
        std::fprintf(stderr, "%s ...\n", what.c_str());
    while (!done) {
        if (terminal)
            std::fprintf(stderr, "\r%s ... %.1f s", what.c_str(), elapsed());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    worker.join();
    std::fprintf(stderr, terminal ? "\r%s ... %s (%.1f s)\n" : "%s ... %s (%.1f s)\n", what.c_str(),
                 ok ? "done" : "failed", elapsed());
    return ok;
}

constexpr char kDeviceUsage[] =
    "  --com N [--baud B]   the scanner on COM port N (default: the first one found)\n";

// Prints the verb's usage to stdout; true when --help was given.
bool ShowHelp(const ConfigArgs& args, const char* usage) {
    if (!args.help)
        return false;
    std::printf("Usage: ferroctl %s%s", usage, kDeviceUsage);
    return true;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "ferroctl: %s\n", message.c_str());
    return 1;
}

int CommandCount(const char* file) {
    TiXmlDocument doc;
    if (!doc.LoadFile(file) || doc.RootElement() == nullptr)
        return -1;
    int count = 0;
    for (auto* c = doc.RootElement()->FirstChildElement("Command"); c;
         c = c->NextSiblingElement("Command")) {
        ++count;
    }
    return count;
}

}  // namespace

int RunSaveOfficeVerb(int argc, char** argv) {
    ConfigArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Fail(args.error);
    if (ShowHelp(args, "save-office [--com N]\nWrites Office.xml into the current directory.\n"))
        return 0;
    _QVDeviceInfo record;
    if (!ChooseRecord(args.device, &record, &args.error))
        return Fail(args.error);
    int result = 0;
    WithProgress("Saving Office.xml", [&] { return (result = SaveOffice(&record)) == 1; });
    if (result != 1)
        return Fail("the scanner did not answer the range query");
    return 0;
}

int RunSaveConfigVerb(int argc, char** argv) {
    ConfigArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Fail(args.error);
    if (ShowHelp(args,
                 "save-config [--com N] [FILE]\nWrites the configuration set as test.xml, or as "
                 "FILE when given.\n"))
        return 0;
    if (args.positional.size() > 1)
        return Fail("save-config takes at most one file name");
    _QVDeviceInfo record;
    if (!ChooseRecord(args.device, &record, &args.error))
        return Fail(args.error);
    WithProgress("Saving the configuration set", [&] {
        qv_SaveXml(&record);
        return true;
    });
    if (CommandCount("test.xml") <= 0)
        return Fail("the scanner reported no settings");
    if (!args.positional.empty()) {
        std::error_code ec;
        std::filesystem::rename("test.xml", args.positional[0], ec);
        if (ec)
            return Fail("cannot write " + args.positional[0] + ": " + ec.message());
    }
    return 0;
}

int RunWriteConfigVerb(int argc, char** argv) {
    ConfigArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Fail(args.error);
    if (ShowHelp(args,
                 "write-config [--com N | --port N] [--baud B] [--unified [--save-type]] FILE\n"
                 "Writes a configuration set into the scanner. --port talks to the port itself\n"
                 "and keeps its link settings; --unified sends the whole buffer and, with\n"
                 "--save-type, ends with CUSSAV.\n"))
        return 0;
    if (args.positional.size() != 1)
        return Fail("write-config needs one configuration set file");
    std::string file = args.positional[0];
    // TinyXML reads nested elements by recursion: a file nested deep enough
    // would overflow the stack, so it is refused before TinyXML sees it.
    if (ferrolink_xml::FileNestingWithin(file.c_str(), ferrolink_xml::kMaxSetFileDepth) ==
        ferrolink_xml::FileNesting::kTooDeep) {
        return Fail(file + " nests its elements more than " +
                    std::to_string(ferrolink_xml::kMaxSetFileDepth) + " levels deep");
    }
    if (CommandCount(file.c_str()) < 0)
        return Fail("cannot read " + file + " as XML");
    std::vector<char> name(file.begin(), file.end());
    name.push_back('\0');
    SetSaveType(args.saveType ? 1 : 0);
    bool ok = false;
    if (args.portForm) {
        ok = WithProgress("Writing " + file, [&] {
            return qv_SavetoDevice(name.data(), args.device.comPort, args.device.baudRate);
        });
    } else {
        _QVDeviceInfo record;
        if (!ChooseRecord(args.device, &record, &args.error))
            return Fail(args.error);
        ok = WithProgress("Writing " + file, [&] {
            return args.unified ? qv_SavetoDeviceAN_U(name.data(), &record)
                                : qv_SavetoDeviceAN(name.data(), &record);
        });
    }
    if (!ok)
        return Fail("the scanner did not take " + file);
    return 0;
}
