// ferroctl verbs for commands, identity, firmware, images and the operation log.
#include "verbs_ops.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli.h"
#include "ferrolink/commands.h"
#include "ferrolink/discovery.h"
#include "ferrolink/firmware.h"
#include "ferrolink/identity.h"
#include "ferrolink/image.h"
#include "ferrolink/limits.h"
#include "op_log_folder.h"
#include "platform/file_replace.h"
#include "platform/ini_file.h"
#include "platform/module_path.h"
#include "platform/runtime_namespace.h"

namespace {

using ferroctl::Escaped;
using ferroctl::Fail;
using ferroctl::Field;
using ferroctl::MissingPort;
using ferroctl::Usage;
using nlohmann::json;

// What `identity show` takes as the device information answer.
constexpr size_t kDeviceInfoBytes = 1024;

// Common options: --com N [--baud R] picks a COM port, otherwise the first
// scanner discovery finds. The other arguments are kept in order.
struct OpsArgs {
    int comPort = 0;
    int baudRate = 115200;
    bool hex = false;
    bool json = false;
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
        } else if (arg == "--json") {
            args.json = true;
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
        "  --baud R    its line speed (default 115200)\n"
        "Exit status 0 when done, 1 when the scanner, port or file said no, 2 for a\n"
        "wrong command line.\n",
        usage);
    return true;
}

bool PickDevice(const OpsArgs& args, _QVDeviceInfo* record, std::string* error) {
    std::memset(static_cast<void*>(record), 0, sizeof(*record));
    if (args.comPort > 0) {
        if (*error = MissingPort(args.comPort); !error->empty())
            return false;
        ComPortSettings settings{};
        settings.wPort = static_cast<uint16_t>(args.comPort);
        settings.dwBaudRate = static_cast<uint32_t>(args.baudRate);
        settings.byDataBits = 8;
        std::memcpy(record->connInfo, &settings, sizeof(settings));
        record->nPortType = FERROLINK_PORT_COM;
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

// As PickDevice, with the record identified (product, serial, firmware) also
// for a COM port given by number: discovery finds the scanner on it.
bool PickIdentifiedDevice(const OpsArgs& args, _QVDeviceInfo* record, std::string* error) {
    if (args.comPort <= 0)
        return PickDevice(args, record, error);
    if (*error = MissingPort(args.comPort); !error->empty())
        return false;
    _QVDeviceInfo found[20];
    std::memset(static_cast<void*>(found), 0, sizeof(found));
    const int count = qv_GetDevice(found, 20);
    for (int i = 0; i < count; ++i) {
        ComPortSettings port{};
        std::memcpy(&port, found[i].connInfo, sizeof port);
        if (found[i].nPortType == FERROLINK_PORT_COM && port.wPort == args.comPort) {
            std::memcpy(static_cast<void*>(record), &found[i], sizeof(*record));
            record->pOpenStream = nullptr;
            return true;
        }
    }
    *error = "COM" + std::to_string(args.comPort) + ": no scanner answered on this port";
    return false;
}

// Replies of `send`: printable ASCII as it is, every other byte as \xNN.
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

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[16];
    std::strftime(text, sizeof(text), "%Y-%m-%d", &tm);
    return text;
}

// The firmware file checked before any scanner is looked for: its header, or
// the line that says what is wrong with it.
std::optional<KernelInfo> ReadFirmwareHeader(const std::string& file, std::string* error) {
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (ec) {
        *error = file + ": " + ec.message();
        return std::nullopt;
    }
    if (std::filesystem::is_directory(status)) {
        *error = file + ": " + std::generic_category().message(EISDIR);
        return std::nullopt;
    }
    {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            *error = file + ": " + std::generic_category().message(errno);
            return std::nullopt;
        }
        if (in.peek() == std::char_traits<char>::eof()) {
            *error = file + ": empty file, not a firmware file";
            return std::nullopt;
        }
    }
    KernelInfo info{};
    if (qvds_get_kernel_info(file.c_str(), &info, 0) == 0 || info.nKind < 1 || info.nKind > 3) {
        *error = file + ": not a firmware file";
        return std::nullopt;
    }
    // The header is right; the image must be the one it describes.
    std::ifstream in(file, std::ios::binary);
    in.seekg(sizeof(KernelInfo));
    std::vector<char> image(info.dwImageSize);
    in.read(image.data(), static_cast<std::streamsize>(image.size()));
    uLong crc = crc32(0L, Z_NULL, 0);
    for (size_t at = 0; at < image.size();) {
        const uInt chunk = static_cast<uInt>(std::min<size_t>(image.size() - at, 1u << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(image.data() + at), chunk);
        at += chunk;
    }
    if (!in || static_cast<uint32_t>(crc) != info.dwImageCrc) {
        *error = file + ": damaged firmware file (the image does not match its header's CRC)";
        return std::nullopt;
    }
    return info;
}

const char* KindText(int kind) {
    switch (kind) {
        case 1:
            return "kernel";
        case 2:
            return "application";
        default:
            return "decoder";
    }
}

// The image as PNG (8-bit gray) in memory.
std::optional<std::string> EncodePng(const unsigned char* pixels, unsigned width, unsigned height) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr)
        return std::nullopt;
    png_infop info = png_create_info_struct(png);
    std::string out;
    // libpng reports errors by longjmp; nothing with a destructor is made
    // between here and the end of the writing.
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return std::nullopt;
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t length) {
            static_cast<std::string*>(png_get_io_ptr(p))
                ->append(reinterpret_cast<const char*>(data), length);
        },
        nullptr);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (unsigned row = 0; row < height; ++row)
        png_write_row(png, pixels + static_cast<size_t>(row) * width);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string Extension(const std::string& file) {
    std::string ext = std::filesystem::path(file).extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

}  // namespace

int RunSendVerb(int argc, char** argv) {
    const OpsArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Usage("send", args.error);
    if (args.json)
        return Usage("send", "send has no JSON output");
    if (ShowHelp(args,
                 "send [--com N [--baud R]] [--hex] COMMAND\n  (--hex: bytes as hex pairs, sent "
                 "unframed)"))
        return 0;
    if (args.positional.size() != 1)
        return Usage("send", "send needs one command (text, or bytes with --hex)");
    const std::string& command = args.positional[0];
    // Room for the longest reply the library reads, so only a reply the
    // library itself refuses goes unprinted.
    std::vector<char> output(FERROLINK_MAX_REPLY_BYTES + 1, '\0');
    int result = 0;
    if (args.hex) {
        std::string bytes;
        if (!ParseHex(command, &bytes) || bytes.size() > 1023) {
            return Usage("send", "--hex needs pairs of hex digits (no 00), at most 1023 bytes");
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
            return Usage("send", "a command has at most 1014 characters");
        if (args.comPort > 0 && args.baudRate == 115200) {
            if (const std::string missing = MissingPort(args.comPort); !missing.empty())
                return Fail(missing);
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
    constexpr char kForms[] =
        "identity [show [--json] | name TEXT | serial TEXT | second-serial | info A B C | mode M]";
    if (!args.error.empty())
        return Usage("identity", args.error);
    if (ShowHelp(args, kForms))
        return 0;
    const std::vector<std::string>& p = args.positional;
    const std::string what = p.empty() ? "show" : p[0];
    if (what == "show" && p.size() <= 1) {
        _QVDeviceInfo record;
        std::string error;
        if (!PickIdentifiedDevice(args, &record, &error))
            return Fail(error);
        // The device information is a short text; an answer that does not
        // fit is no device information.
        std::vector<char> output(kDeviceInfoBytes, '\0');
        const int esn = SendCommandSized(&record, "QRYESN", output.data(), output.size());
        if (esn == FERROLINK_TOO_LONG)
            return Fail("the device info answer is longer than " +
                        std::to_string(output.size() - 1) + " bytes");
        std::string info = output.data();
        if (esn == 1 && info.size() > 9)
            info = info.substr(6, info.size() - 9);
        const std::string product = Field(record.szProductName, sizeof record.szProductName);
        const std::string serial = Field(record.szSerialNumber, sizeof record.szSerialNumber);
        const std::string firmware =
            Field(record.szFirmwareVersion, sizeof record.szFirmwareVersion);
        if (args.json) {
            ferroctl::PrintJson(json{{"port", ferroctl::PortText(record)},
                                     {"product", product},
                                     {"serial", serial},
                                     {"firmware", firmware},
                                     {"device_info", esn == 1 ? json(info) : json(nullptr)}});
            return 0;
        }
        std::printf("Product Name: %s\n", Escaped(product).c_str());
        std::printf("Serial Number: %s\n", Escaped(serial).c_str());
        std::printf("Firmware Version: %s\n", Escaped(firmware).c_str());
        std::printf("Device Info: %s\n", esn == 1 ? Escaped(info).c_str() : "(not answered)");
        return 0;
    }
    if (args.json)
        return Usage("identity", "only identity show has JSON output");
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
    return Usage("identity", std::string("expected ") + kForms);
}

int RunFlashVerb(int argc, char** argv) {
    if (argc > 0 && std::strcmp(argv[0], "compare") == 0)
        return RunCompareVerb(argc - 1, argv + 1);
    OpsArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Usage("flash", args.error);
    if (args.json)
        return Usage("flash", "flash has no JSON output");
    if (ShowHelp(args,
                 "flash [--com N [--baud R]] FIRMWARE-FILE\n"
                 "       ferroctl flash compare [--json] FIRMWARE-FILE   (as compare)\n"
                 "The file is checked before a scanner is looked for. The progress line on\n"
                 "standard error shows percentage, bytes, rate and time left."))
        return 0;
    if (args.positional.size() != 1)
        return Usage("flash", "flash needs one firmware file");
    std::string file = args.positional[0];
    std::string error;
    const std::optional<KernelInfo> header = ReadFirmwareHeader(file, &error);
    if (!header)
        return Fail(error);
    _QVDeviceInfo record;
    if (!PickDevice(args, &record, &error))
        return Fail(error);
    const std::string target =
        args.comPort > 0 ? "COM" + std::to_string(args.comPort)
                         : Escaped(Field(record.szSerialNumber, sizeof record.szSerialNumber));
    FirmwareUploadInfo info{};
    // The transfer counts the bytes it sent into `info` as it goes.
    const bool ok = ferroctl::WithProgress(
        "Updating " + target + " with " + file, header->dwImageSize,
        [&] { return static_cast<uint64_t>(__atomic_load_n(&info.dwBytesSent, __ATOMIC_RELAXED)); },
        [&] { return qv_UpdateKernelDevice1(file.data(), &record, &info); });
    if (ok)
        return 0;
    const uint32_t sent = info.dwBytesSent;
    std::string reason;
    if (sent == 0)
        reason = "the scanner did not take the update (not opened, or it refused the start)";
    else if (sent < header->dwImageSize)
        reason = "the transfer stopped after " + std::to_string(sent) + " of " +
                 std::to_string(header->dwImageSize) + " bytes";
    else
        reason = "the scanner rejected the image after the transfer";
    return Fail("firmware update failed: " + target + ", " + file + ": " + reason);
}

int RunCompareVerb(int argc, char** argv) {
    const OpsArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Usage("compare", args.error);
    if (ShowHelp(args,
                 "compare [--com N] [--json] FIRMWARE-FILE\n"
                 "Exit status 0 when the scanner runs the file's version, 1 when it runs another\n"
                 "(or the file or scanner cannot be read). --json prints {file, kind,\n"
                 "file_version, product, scanner_version, same}."))
        return 0;
    if (args.positional.size() != 1)
        return Usage("compare", "compare needs one firmware file");
    const std::string& file = args.positional[0];
    std::string error;
    const std::optional<KernelInfo> header = ReadFirmwareHeader(file, &error);
    if (!header)
        return Fail(error);
    _QVDeviceInfo record;
    if (!PickIdentifiedDevice(args, &record, &error))
        return Fail(error);
    const bool same = CompareVer(&record, file.c_str()) == 1;
    const std::string running = Field(record.szFirmwareVersion, sizeof record.szFirmwareVersion);
    const std::string version = Field(header->szVersion, sizeof header->szVersion);
    if (args.json) {
        ferroctl::PrintJson(
            json{{"file", file},
                 {"kind", KindText(header->nKind)},
                 {"file_version", version},
                 {"product", Field(record.szProductName, sizeof record.szProductName)},
                 {"scanner_version", running},
                 {"same", same}});
    } else if (same) {
        std::printf("same version: %s\n", Escaped(running).c_str());
    }
    if (same)
        return 0;
    return Fail("the scanner runs another version (" + Escaped(running) + "; " + file + " holds " +
                Escaped(version) + ")");
}

int RunImageVerb(int argc, char** argv) {
    const OpsArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Usage("image", args.error);
    if (args.json)
        return Usage("image", "image has no JSON output");
    if (ShowHelp(args,
                 "image [--com N] OUTPUT.png|OUTPUT.pgm\n"
                 "Writes the last captured image as PNG or as a portable graymap, chosen by the\n"
                 "file name's extension; any other extension is a usage error (status 2)."))
        return 0;
    if (args.positional.size() != 1)
        return Usage("image", "image needs an output file");
    const std::string& file = args.positional[0];
    const std::string ext = Extension(file);
    if (ext != ".png" && ext != ".pgm")
        return Usage("image", file + ": the output file must end in .png or .pgm");
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
    if (static_cast<uint64_t>(info.nWidth) * info.nHeight > info.nBytes || info.nWidth == 0)
        return Fail("the image's size (" + std::to_string(info.nWidth) + "x" +
                    std::to_string(info.nHeight) + ") does not match its " +
                    std::to_string(info.nBytes) + " bytes");
    std::string bytes;
    if (ext == ".png") {
        const auto png = EncodePng(image.data(), info.nWidth, info.nHeight);
        if (!png)
            return Fail(file + ": the PNG encoder failed");
        bytes = *png;
    } else {
        // Portable graymap: any viewer opens it.
        bytes =
            "P5\n" + std::to_string(info.nWidth) + ' ' + std::to_string(info.nHeight) + "\n255\n";
        bytes.append(reinterpret_cast<const char*>(image.data()),
                     static_cast<size_t>(info.nWidth) * info.nHeight);
    }
    if (const auto written = platform::ReplaceFile(file, bytes); !written)
        return Fail(written.GetError().message);
    std::printf("%ux%u image written to %s\n", info.nWidth, info.nHeight, file.c_str());
    return 0;
}

int RunOpLogVerb(int argc, char** argv) {
    const OpsArgs args = ParseArgs(argc, argv);
    if (!args.error.empty())
        return Usage("oplog", args.error);
    if (ShowHelp(args,
                 "oplog [--json] [YYYY-MM-DD]  (default: today)\n"
                 "--json prints one array of {time, command, serial, error, file, refused}."))
        return 0;
    if (args.positional.size() > 1)
        return Usage("oplog", "oplog takes at most a day (yyyy-mm-dd)");
    const std::string day = args.positional.empty() ? Today() : args.positional[0];
    const std::filesystem::path folder = OpLogFolder();
    if (folder.empty())
        return Fail("no operation log folder: neither " +
                    (platform::ModuleDirectory() / "log").string() + " nor " +
                    UserOpLogFolder().string() + " exists");
    const auto file = folder / (day + ".ini");
    if (!std::ifstream(file).is_open())
        return Fail("no operation log " + file.string() + ": " +
                    std::generic_category().message(errno));
    json entries = json::array();
    for (const std::string& section : platform::IniSectionNames(file)) {
        auto value = [&](const char* key) {
            return platform::IniReadString(file, section, key, "");
        };
        if (args.json) {
            const std::string error = value("ErrorInfo");
            char* end = nullptr;
            const long code = std::strtol(error.c_str(), &end, 10);
            entries.push_back(
                json{{"time", section},
                     {"command", value("OpeCommand")},
                     {"serial", value("DevSn")},
                     {"error", !error.empty() && *end == '\0' ? json(code) : json(error)},
                     {"file", value("OpeFile")},
                     {"refused", value("strError")}});
            continue;
        }
        std::printf("%s  %-9s  SN=%s  error=%s  %s", Escaped(section).c_str(),
                    Escaped(value("OpeCommand")).c_str(), Escaped(value("DevSn")).c_str(),
                    Escaped(value("ErrorInfo")).c_str(), Escaped(value("OpeFile")).c_str());
        const std::string error = value("strError");
        if (error.empty()) {
            std::printf("\n");
        } else {
            std::printf("  [%s]\n", Escaped(error).c_str());
        }
    }
    if (args.json)
        ferroctl::PrintJson(entries);
    return 0;
}
