// ferroctl verbs for the configuration files.
#include "verbs_config.h"

#include <tinyxml.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "cli.h"
#include "ferrolink/config.h"
#include "ferrolink/discovery.h"
#include "platform/file_replace.h"
#include "platform/runtime_namespace.h"
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
        if (*error = ferroctl::MissingPort(choice.comPort); !error->empty())
            return false;
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

constexpr char kDeviceUsage[] =
    "  --com N [--baud B]   the scanner on COM port N (default: the first one found)\n";

// Prints the verb's usage to stdout; true when --help was given.
bool ShowHelp(const ConfigArgs& args, const char* usage) {
    if (!args.help)
        return false;
    std::printf("Usage: ferroctl %s%s", usage, kDeviceUsage);
    return true;
}

using ferroctl::Fail;
using ferroctl::Usage;

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
        return Usage("save-office", args.error);
    if (ShowHelp(args, "save-office [--com N]\nWrites Office.xml into the current directory.\n"))
        return 0;
    if (!args.positional.empty())
        return Usage("save-office", "save-office takes no file name");
    _QVDeviceInfo record;
    if (!ChooseRecord(args.device, &record, &args.error))
        return Fail(args.error);
    int result = 0;
    ferroctl::WithProgress("Saving Office.xml", 0, nullptr,
                           [&] { return (result = SaveOffice(&record)) == 1; });
    if (result != 1)
        return Fail("the scanner did not answer the range query");
    return 0;
}

int RunSaveConfigVerb(int argc, char** argv) {
    ConfigArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Usage("save-config", args.error);
    if (ShowHelp(args,
                 "save-config [--com N] [FILE]\nWrites the configuration set as FILE (default "
                 "test.xml), whole: a temporary file\nbeside it is renamed over it once "
                 "complete. Nothing else in the current folder\nis touched.\n"))
        return 0;
    if (args.positional.size() > 1)
        return Usage("save-config", "save-config takes at most one file name");
    const std::filesystem::path target = args.positional.empty() ? "test.xml" : args.positional[0];
    _QVDeviceInfo record;
    if (!ChooseRecord(args.device, &record, &args.error))
        return Fail(args.error);
    // The library writes test.xml into the current folder: it does so in a
    // private folder of ours, so no file of the user's is replaced on the way.
    const auto folder = platform::MakeTempFolder("ferroctl-save");
    if (!folder)
        return Fail(folder.GetError().message);
    std::error_code ec;
    const std::filesystem::path home = std::filesystem::current_path(ec);
    if (ec)
        return Fail("the current folder: " + ec.message());
    std::filesystem::current_path(*folder, ec);
    if (ec) {
        std::filesystem::remove_all(*folder, ec);
        return Fail(folder->string() + ": " + ec.message());
    }
    ferroctl::WithProgress("Saving the configuration set", 0, nullptr, [&] {
        qv_SaveXml(&record);
        return true;
    });
    std::filesystem::current_path(home, ec);
    const std::filesystem::path saved = *folder / "test.xml";
    const int commands = CommandCount(saved.c_str());
    std::stringstream text;
    text << std::ifstream(saved, std::ios::binary).rdbuf();
    std::filesystem::remove_all(*folder, ec);
    if (commands <= 0)
        return Fail("the scanner reported no settings");
    if (const auto written = platform::ReplaceFile(target, text.str()); !written)
        return Fail(written.GetError().message);
    return 0;
}

namespace {

// What the download reports, read by the progress line's thread.
struct DownloadProgress {
    std::atomic<int> done{0};
    std::atomic<int> total{0};
};

void OnDownloadProgress(int nDone, int nTotal, void* user) {
    auto* progress = static_cast<DownloadProgress*>(user);
    progress->total = nTotal;
    progress->done = nDone;
}

// STX, SOH, four digits and one byte before the first item of a reply.
constexpr size_t kReplyHeaderBytes = 7;

// "232BAD9\x15|ABCDEF1\x15|" -> "232BAD9 (NAK), ABCDEF1 (NAK)"; the count of parts.
std::string RefusalList(const std::string& refused, int* count) {
    std::string list;
    *count = 0;
    size_t start = 0;
    for (size_t bar; (bar = refused.find('|', start)) != std::string::npos; start = bar + 1) {
        std::string part = refused.substr(start, bar - start);
        // The first part of an answer still carries the reply frame's header.
        if (part.size() > kReplyHeaderBytes && part[0] == '\x02' && part[1] == '\x01')
            part.erase(0, kReplyHeaderBytes);
        const char status = part.empty() ? '\0' : part.back();
        const char* word = status == '\x15' ? "NAK" : status == '\x05' ? "ENQ" : "error";
        if (status == '\x15' || status == '\x05')
            part.pop_back();
        list += (list.empty() ? "" : ", ") + ferroctl::Escaped(part) + " (" + word + ")";
        ++*count;
    }
    return list;
}

}  // namespace

int RunWriteConfigVerb(int argc, char** argv) {
    ConfigArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Usage("write-config", args.error);
    if (ShowHelp(args,
                 "write-config [--com N | --port N] [--baud B] [--unified [--save-type]] FILE\n"
                 "Writes a configuration set into the scanner. --port talks to the port itself\n"
                 "and keeps its link settings; --unified sends the whole buffer and, with\n"
                 "--save-type, ends with CUSSAV. Settings the scanner refuses are listed on\n"
                 "standard error and the exit status is 1.\n"))
        return 0;
    if (args.positional.size() != 1)
        return Usage("write-config", "write-config needs one configuration set file");
    std::string file = args.positional[0];
    std::error_code ec;
    if (!std::filesystem::exists(file, ec))
        return Fail(file + ": " + (ec ? ec.message() : std::generic_category().message(ENOENT)));
    if (std::filesystem::is_directory(file, ec))
        return Fail(file + ": " + std::generic_category().message(EISDIR));
    // TinyXML reads nested elements by recursion: a file nested deep enough
    // would overflow the stack, so it is refused before TinyXML sees it.
    if (ferrolink_xml::FileNestingWithin(file.c_str(), ferrolink_xml::kMaxSetFileDepth) ==
        ferrolink_xml::FileNesting::kTooDeep) {
        return Fail(file + " nests its elements more than " +
                    std::to_string(ferrolink_xml::kMaxSetFileDepth) + " levels deep");
    }
    const int commands = CommandCount(file.c_str());
    if (commands < 0)
        return Fail("cannot read " + file + " as XML");
    if (args.portForm) {
        if (const std::string missing = ferroctl::MissingPort(args.device.comPort);
            !missing.empty())
            return Fail(missing);
    }
    std::vector<char> name(file.begin(), file.end());
    name.push_back('\0');
    SetSaveType(args.saveType ? 1 : 0);
    DownloadProgress progress;
    qv_SetConfigProgress(OnDownloadProgress, &progress);
    auto done = [&]() -> uint64_t {
        const int total = progress.total;
        return total > 0 ? static_cast<uint64_t>(progress.done) * static_cast<uint64_t>(commands) /
                               static_cast<uint64_t>(total)
                         : 0;
    };
    const ferroctl::ProgressUnits units{"settings"};
    bool ok = false;
    if (args.portForm) {
        ok = ferroctl::WithProgress(
            "Writing " + file, static_cast<uint64_t>(commands), done,
            [&] { return qv_SavetoDevice(name.data(), args.device.comPort, args.device.baudRate); },
            units);
    } else {
        _QVDeviceInfo record;
        if (!ChooseRecord(args.device, &record, &args.error)) {
            qv_SetConfigProgress(nullptr, nullptr);
            return Fail(args.error);
        }
        ok = ferroctl::WithProgress(
            "Writing " + file, static_cast<uint64_t>(commands), done,
            [&] {
                return args.unified ? qv_SavetoDeviceAN_U(name.data(), &record)
                                    : qv_SavetoDeviceAN(name.data(), &record);
            },
            units);
    }
    qv_SetConfigProgress(nullptr, nullptr);
    const int length = qv_GetConfigRefusals(nullptr, 0);
    std::string refused(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    qv_GetConfigRefusals(refused.data(), refused.size());
    refused.resize(static_cast<size_t>(length > 0 ? length : 0));
    int count = 0;
    const std::string list = RefusalList(refused, &count);
    if (!ok)
        return Fail("the scanner did not take " + file +
                    (count > 0 ? "; it refused " + list : std::string()));
    if (count > 0)
        return Fail(file + ": the scanner refused " + std::to_string(count) +
                    (count == 1 ? " setting: " : " settings: ") + list);
    return 0;
}
