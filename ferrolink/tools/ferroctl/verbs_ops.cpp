// ferroctl verbs for commands, identity, firmware, images and the operation log.
#include "verbs_ops.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ferrolink/commands.h"
#include "ferrolink/discovery.h"
#include "ferrolink/firmware.h"
#include "ferrolink/identity.h"
#include "ferrolink/image.h"
#include "ferrolink/limits.h"
#include "op_log_folder.h"
#include "platform/ini_file.h"
#include "platform/module_path.h"

namespace {

// What `identity show` takes as the device information answer.
constexpr size_t kDeviceInfoBytes = 1024;

int Fail(const std::string& message) {
    std::fprintf(stderr, "ferroctl: %s\n", message.c_str());
    return 1;
}

// Common options: --com N [--baud R] picks a COM port, otherwise the first
// scanner discovery finds. The other arguments are kept in order.
struct OpsArgs {
    int comPort = 0;
    int baudRate = 115200;
    bool hex = false;
    bool help = false;
    std::vector<std::string> positional;
    std::string error;
};

bool ParsePositive(const char* text, int* value) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || n <= 0 || n > 10000000)
        return false;
    *value = static_cast<int>(n);
    return true;
}

OpsArgs ParseArgs(int argc, char** argv) {
    OpsArgs args;
    for (int i = 0; i < argc && args.error.empty(); ++i) {
        const std::string arg = argv[i];
        if (arg == "--com" || arg == "--baud") {
            int* out = arg == "--com" ? &args.comPort : &args.baudRate;
            if (i + 1 >= argc || !ParsePositive(argv[++i], out))
                args.error = arg + " needs a number";
        } else if (arg == "--hex") {
            args.hex = true;
        } else if (arg == "--help" || arg == "-h") {
            args.help = true;
        } else if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
            args.error = "unknown option " + arg;
        } else {
            args.positional.push_back(arg);
        }
    }
    return args;
}

// Prints the verb's usage when asked; true when it did.
bool ShowHelp(const OpsArgs& args, const char* usage) {
    if (!args.help)
        return false;
    std::printf(
        "Usage: ferroctl %s\n\n"
        "  --com N     the scanner on COM port N instead of the first one found\n"
        "  --baud R    its line speed (default 115200)\n",
        usage);
    return true;
}

bool PickDevice(const OpsArgs& args, _QVDeviceInfo* record, std::string* error) {
    std::memset(static_cast<void*>(record), 0, sizeof(*record));
    if (args.comPort > 0) {
        ComPortSettings settings{};
        settings.wPort = static_cast<uint16_t>(args.comPort);
        settings.dwBaudRate = static_cast<uint32_t>(args.baudRate);
        settings.byDataBits = 8;
        std::memcpy(record->connInfo, &settings, sizeof(settings));
        record->nPortType = 1;
        return true;
    }
    _QVDeviceInfo found[20];
    std::memset(static_cast<void*>(found), 0, sizeof(found));
    if (qv_GetDevice(found, 20) <= 0) {
        *error = "no scanner found";
        return false;
    }
    std::memcpy(static_cast<void*>(record), &found[0], sizeof(*record));
    record->pOpenStream = nullptr;
    return true;
}

std::string Printable(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\x%02X", c);
            text += escape;
        }
    }
    return text;
}

// "1B 51" or "1b51" to bytes; false on anything else.
bool ParseHex(const std::string& text, std::string* bytes) {
    std::string digits;
    for (char c : text) {
        if (c == ' ')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        digits += c;
    }
    if (digits.empty() || digits.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int value = std::stoi(digits.substr(i, 2), nullptr, 16);
        if (value == 0)
            return false;  // the bytes go out NUL-terminated
        *bytes += static_cast<char>(value);
    }
    return true;
}

// Runs work while showing a progress line: updated in place on a terminal,
// a start and an end line otherwise.
bool WithProgress(const std::string& what, const std::function<bool()>& work) {
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    std::atomic<bool> done{false};
    std::thread ticker;
    if (terminal) {
        ticker = std::thread([&] {
            while (!done) {
                std::fprintf(stderr, "\r%s ... %.1f s", what.c_str(), elapsed());
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        });
    } else {
        std::fprintf(stderr, "%s ...\n", what.c_str());
    }
    const bool ok = work();
    done = true;
    if (ticker.joinable())
        ticker.join();
    std::fprintf(stderr, terminal ? "\r%s ... %s (%.1f s)\n" : "%s ... %s (%.1f s)\n", what.c_str(),
                 ok ? "done" : "failed", elapsed());
    return ok;
}

std::string Field(const char* text, size_t size) {
    return std::string(text, strnlen(text, size));
}

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[16];
    std::strftime(text, sizeof(text), "%Y-%m-%d", &tm);
    return text;
}

}  // namespace

int RunSendVerb(int argc, char** argv) {
    const OpsArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Fail(args.error);
    if (ShowHelp(args,
                 "send [--com N [--baud R]] [--hex] COMMAND\n  (--hex: bytes as hex pairs, sent "
                 "unframed)"))
        return 0;
    if (args.positional.size() != 1)
        return Fail("send needs one command (text, or bytes with --hex)");
    const std::string& command = args.positional[0];
    // Room for the longest reply the library reads, so only a reply the
    // library itself refuses goes unprinted.
    std::vector<char> output(FERROLINK_MAX_REPLY_BYTES + 1, '\0');
    int result = 0;
    if (args.hex) {
        std::string bytes;
        if (!ParseHex(command, &bytes) || bytes.size() > 1023) {
            return Fail("--hex needs pairs of hex digits (no 00), at most 1023 bytes");
        }
        _QVDeviceInfo record;
        std::string error;
        if (!PickDevice(args, &record, &error))
            return Fail(error);
        result = SendCommandHEXSized(&record, bytes.c_str(), output.data(), output.size());
        if (result == FERROLINK_TOO_LONG)
            return Fail("the reply is longer than " + std::to_string(output.size() - 1) + " bytes");
        if (result != 1)
            return Fail("no reply");
    } else {
        if (command.size() > 1014)
            return Fail("a command has at most 1014 characters");
        if (args.comPort > 0 && args.baudRate == 115200) {
            result =
                SendCommandComSized(args.comPort, command.c_str(), output.data(), output.size());
        } else {
            _QVDeviceInfo record;
            std::string error;
            if (!PickDevice(args, &record, &error))
                return Fail(error);
            result = SendCommandSized(&record, command.c_str(), output.data(), output.size());
        }
        if (result == FERROLINK_TOO_LONG)
            return Fail("the reply is longer than " + std::to_string(output.size() - 1) + " bytes");
    }
    std::printf("%s\n", Printable(output.data()).c_str());
    return result == 1 ? 0 : Fail("the device did not acknowledge " + command);
}

int RunIdentityVerb(int argc, char** argv) {
    const OpsArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Fail(args.error);
    if (ShowHelp(args,
                 "identity [show | name TEXT | serial TEXT | second-serial | info A B C | mode M]"))
        return 0;
    const std::vector<std::string>& p = args.positional;
    const std::string what = p.empty() ? "show" : p[0];
    if (what == "show" && p.size() <= 1) {
        _QVDeviceInfo record;
        std::string error;
        if (!PickDevice(args, &record, &error))
            return Fail(error);
        // The device information is a short text; an answer that does not
        // fit is no device information.
        std::vector<char> output(kDeviceInfoBytes, '\0');
        const int esn = SendCommandSized(&record, "QRYESN", output.data(), output.size());
        if (esn == FERROLINK_TOO_LONG)
            return Fail("the device info answer is longer than " +
                        std::to_string(output.size() - 1) + " bytes");
        std::printf("Product Name: %s\n", Field(record.szProductName, 32).c_str());
        std::printf("Serial Number: %s\n", Field(record.szSerialNumber, 32).c_str());
        std::printf("Firmware Version: %s\n", Field(record.szFirmwareVersion, 32).c_str());
        std::string info = output.data();
        if (esn == 1 && info.size() > 9)
            info = info.substr(6, info.size() - 9);
        std::printf("Device Info: %s\n", esn == 1 ? info.c_str() : "(not answered)");
        return 0;
    }
    if (what == "info" && p.size() == 4) {
        return setDeviceInfo(p[1].c_str(), p[2].c_str(), p[3].c_str()) == 1
                   ? 0
                   : Fail("device info not written (exactly one scanner must be attached)");
    }
    if (what == "mode" && p.size() == 2) {
        return changeDevMode(p[1].c_str()) == 1
                   ? 0
                   : Fail("mode not changed (one scanner, device info of three parts)");
    }
    if ((what == "name" || what == "serial") && p.size() == 2) {
        _QVDeviceInfo record;
        std::string error;
        if (!PickDevice(args, &record, &error))
            return Fail(error);
        const int result = what == "name" ? SetDevicePDN(&record, p[1].c_str())
                                          : SetDeviceSN(&record, p[1].c_str());
        return result == 1 ? 0 : Fail("the scanner could not be opened");
    }
    if (what == "second-serial" && p.size() == 1) {
        _QVDeviceInfo record;
        std::string error;
        if (!PickDevice(args, &record, &error))
            return Fail(error);
        const int result = SetDeviceBSN(&record);
        if (result == 2)
            std::printf("already marked\n");
        return result != 0 ? 0 : Fail("the scanner could not be opened");
    }
    return Fail("identity [show | name TEXT | serial TEXT | second-serial | info A B C | mode M]");
}

int RunFlashVerb(int argc, char** argv) {
    OpsArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Fail(args.error);
    if (ShowHelp(args, "flash [--com N [--baud R]] FIRMWARE-FILE"))
        return 0;
    if (args.positional.size() != 1)
        return Fail("flash needs one firmware file");
    std::string file = args.positional[0];
    bool ok = false;
    int error = 0;
    if (args.comPort > 0) {
        ok = WithProgress("Updating COM" + std::to_string(args.comPort) + " with " + file, [&] {
            return qv_UpdateKernelDevicePort(file.data(), args.comPort, args.baudRate, 0, &error);
        });
    } else {
        _QVDeviceInfo record;
        std::string message;
        if (!PickDevice(args, &record, &message))
            return Fail(message);
        FirmwareUploadInfo info{};
        ok = WithProgress("Updating " + Field(record.szSerialNumber, 32) + " with " + file,
                          [&] { return qv_UpdateKernelDevice1(file.data(), &record, &info); });
    }
    return ok ? 0
              : Fail("firmware update failed" +
                     (error != 0 ? " (error " + std::to_string(error) + ")" : std::string()));
}

int RunCompareVerb(int argc, char** argv) {
    const OpsArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Fail(args.error);
    if (ShowHelp(args, "compare [--com N] FIRMWARE-FILE"))
        return 0;
    if (args.positional.size() != 1)
        return Fail("compare needs one firmware file");
    _QVDeviceInfo record;
    std::string error;
    if (!PickDevice(args, &record, &error))
        return Fail(error);
    if (CompareVer(&record, args.positional[0].c_str()) == 1) {
        std::printf("same version: %s\n", Field(record.szFirmwareVersion, 32).c_str());
        return 0;
    }
    return Fail("the scanner runs another version (" + Field(record.szFirmwareVersion, 32) + ")");
}

int RunImageVerb(int argc, char** argv) {
    const OpsArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Fail(args.error);
    if (ShowHelp(args, "image [--com N] OUTPUT.pgm"))
        return 0;
    if (args.positional.size() != 1)
        return Fail("image needs an output file");
    _QVDeviceInfo record;
    std::string error;
    if (!PickDevice(args, &record, &error))
        return Fail(error);
    std::vector<unsigned char> image(FERROLINK_MAX_IMAGE_BYTES);
    QVImageInfo info{};
    const int result = qv_GetPicSized(&record, image.data(), image.size(), &info);
    if (result == FERROLINK_TOO_LONG)
        return Fail("the image is larger than " + std::to_string(image.size()) + " bytes");
    if (result != 1)
        return Fail("no whole image came (no answer, or a malformed or cut image reply)");
    std::ofstream out(args.positional[0], std::ios::binary);
    // Portable graymap: any viewer opens it.
    out << "P5\n" << info.nWidth << ' ' << info.nHeight << "\n255\n";
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(info.nBytes));
    if (!out.good())
        return Fail("cannot write " + args.positional[0]);
    std::printf("%ux%u image written to %s\n", info.nWidth, info.nHeight,
                args.positional[0].c_str());
    return 0;
}

int RunOpLogVerb(int argc, char** argv) {
    const OpsArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Fail(args.error);
    if (ShowHelp(args, "oplog [YYYY-MM-DD]  (default: today)"))
        return 0;
    if (args.positional.size() > 1)
        return Fail("oplog takes at most a day (yyyy-mm-dd)");
    const std::string day = args.positional.empty() ? Today() : args.positional[0];
    const std::filesystem::path folder = OpLogFolder();
    if (folder.empty())
        return Fail("no operation log folder: neither " +
                    (platform::ModuleDirectory() / "log").string() + " nor " +
                    UserOpLogFolder().string() + " exists");
    const auto file = folder / (day + ".ini");
    if (!std::ifstream(file).is_open())
        return Fail("no operation log " + file.string());
    for (const std::string& section : platform::IniSectionNames(file)) {
        auto value = [&](const char* key) {
            return platform::IniReadString(file, section, key, "");
        };
        std::printf("%s  %-9s  SN=%s  error=%s  %s", section.c_str(), value("OpeCommand").c_str(),
                    value("DevSn").c_str(), value("ErrorInfo").c_str(), value("OpeFile").c_str());
        const std::string error = value("strError");
        if (error.empty()) {
            std::printf("\n");
        } else {
            std::printf("  [%s]\n", error.c_str());
        }
    }
    return 0;
}
