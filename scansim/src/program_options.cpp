#include "program_options.h"

#include <getopt.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "scansim/profile.h"

namespace scansim {
namespace {

enum OptionId {
    kUsb = 256,
    kCom,
    kBaud,
    kRuntimeDir,
    kProfile,
    kProduct,
    kFirmware,
    kDecoder,
    kSerial,
    kOemSerial,
    kImageSize,
    kFault,
    kScan,
    kScanFile,
    kScanSuffix,
    kScanEvery,
    kScanDelay,
    kStdin,
    kHelp,
    kVersion,
};

const option kLongOptions[] = {
    {"usb", required_argument, nullptr, kUsb},
    {"com", required_argument, nullptr, kCom},
    {"baud", required_argument, nullptr, kBaud},
    {"runtime-dir", required_argument, nullptr, kRuntimeDir},
    {"profile", required_argument, nullptr, kProfile},
    {"product", required_argument, nullptr, kProduct},
    {"firmware", required_argument, nullptr, kFirmware},
    {"decoder", required_argument, nullptr, kDecoder},
    {"serial", required_argument, nullptr, kSerial},
    {"oem-serial", required_argument, nullptr, kOemSerial},
    {"image-size", required_argument, nullptr, kImageSize},
    {"fault", required_argument, nullptr, kFault},
    {"scan", required_argument, nullptr, kScan},
    {"scan-file", required_argument, nullptr, kScanFile},
    {"scan-suffix", required_argument, nullptr, kScanSuffix},
    {"scan-every", required_argument, nullptr, kScanEvery},
    {"scan-delay", required_argument, nullptr, kScanDelay},
    {"stdin", no_argument, nullptr, kStdin},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

bool ParseCount(const char* text, unsigned long limit, unsigned long& out) {
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value > limit || text[0] == '-') {
        return false;
    }
    out = value;
    return true;
}

bool ParseImageSize(const std::string& text, ScannerOptions& scanner) {
    const auto x = text.find('x');
    unsigned long width = 0;
    unsigned long height = 0;
    if (x == std::string::npos || !ParseCount(text.substr(0, x).c_str(), 9999, width) ||
        !ParseCount(text.substr(x + 1).c_str(), 9999, height) || width == 0 || height == 0) {
        return false;
    }
    scanner.imageWidth = static_cast<unsigned>(width);
    scanner.imageHeight = static_cast<unsigned>(height);
    return true;
}

bool ApplyOption(int id, const char* arg, ProgramOptions& o, std::string& error) {
    unsigned long number = 0;
    switch (id) {
        case kUsb:
            o.scanner.attachment = Attachment::kUsb;
            o.scanner.usbSerial = arg;
            return !o.scanner.usbSerial.empty() || (error = "--usb needs a serial", false);
        case kCom:
            if (!ParseCount(arg, 255, number) || number == 0) {
                error = "--com needs a port number 1-255";
                return false;
            }
            o.scanner.attachment = Attachment::kCom;
            o.scanner.comPort = static_cast<unsigned>(number);
            return true;
        case kBaud:
            if (!ParseCount(arg, 4000000, number) || number == 0) {
                error = "--baud needs a rate";
                return false;
            }
            o.scanner.baudRate = static_cast<unsigned>(number);
            return true;
        case kRuntimeDir:
            o.runtimeDir = arg;
            return true;
        case kProfile:
            o.profile = arg;
            return true;
        case kProduct:
            o.identityOverrides.push_back(std::string("product=") + arg);
            return true;
        case kFirmware:
            o.identityOverrides.push_back(std::string("firmware=") + arg);
            return true;
        case kDecoder:
            o.identityOverrides.push_back(std::string("decoder=") + arg);
            return true;
        case kSerial:
            o.identityOverrides.push_back(std::string("serial=") + arg);
            return true;
        case kOemSerial:
            o.identityOverrides.push_back(std::string("oem_serial=") + arg);
            return true;
        case kImageSize:
            o.identityOverrides.push_back(std::string("image=") + arg);
            return ParseImageSize(arg, o.scanner) || (error = "--image-size needs WxH", false);
        case kFault:
            o.fault = ParseFault(arg);
            return o.fault.has_value() || (error = std::string("bad fault: ") + arg, false);
        case kScan:
            o.scans.push_back(Unescape(arg));
            return true;
        case kScanFile:
            o.scanFile = arg;
            return true;
        case kScanSuffix:
            o.scanSuffix = Unescape(arg);
            return true;
        case kScanEvery:
        case kScanDelay:
            if (!ParseCount(arg, 86400000, number)) {
                error = "a time in milliseconds is needed";
                return false;
            }
            (id == kScanEvery ? o.scanEveryMs : o.scanDelayMs) = static_cast<int>(number);
            return true;
        case kStdin:
            o.readStdin = true;
            return true;
        case kHelp:
            o.showHelp = true;
            return true;
        case kVersion:
            o.showVersion = true;
            return true;
        default:
            error = "unknown option (see --help)";
            return false;
    }
}

}  // namespace

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'r') {
            out += '\r';
        } else if (c == 'n') {
            out += '\n';
        } else if (c == 't') {
            out += '\t';
        } else if (c == 'x' && i + 2 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

bool ParseProgramOptions(int argc, char** argv, ProgramOptions& options, std::string& error) {
    optind = 0;  // a fresh scan, also when called more than once
    opterr = 0;
    optopt = 0;
    int id;
    while ((id = getopt_long(argc, argv, "", kLongOptions, nullptr)) != -1) {
        if (id == '?' || id == ':') {
            const char* given = optind > 0 ? argv[optind - 1] : "";
            // glibc names the option in optopt when only its value was missing.
            error = optopt != 0 ? std::string(given) + " needs a value"
                                : std::string("bad option ") + given;
            return false;
        }
        if (!ApplyOption(id, optarg, options, error)) {
            return false;
        }
    }
    if (optind < argc) {
        error = std::string("unexpected argument ") + argv[optind];
        return false;
    }
    return true;
}

bool ApplyProfileAndOverrides(ProgramOptions& options, const std::string& defaultProfile,
                              std::string& error) {
    std::string profile = options.profile;
    if (profile.empty() && std::filesystem::exists(defaultProfile)) {
        profile = defaultProfile;
    }
    if (!profile.empty() && !LoadProfile(profile, options.scanner, error)) {
        return false;
    }
    Identity& id = options.scanner.identity;
    for (const auto& entry : options.identityOverrides) {
        const auto eq = entry.find('=');
        const std::string key = entry.substr(0, eq);
        const std::string value = entry.substr(eq + 1);
        if (key == "product")
            id.productName = value;
        if (key == "firmware")
            id.firmwareVersion = value;
        if (key == "decoder")
            id.decoderVersion = value;
        if (key == "serial")
            id.serialNumber = value;
        if (key == "oem_serial")
            id.oemSerialNumber = value;
        if (key == "image")
            ParseImageSize(value, options.scanner);
    }
    return true;
}

const char* UsageText() {
    return R"(Usage: scansim [options]
A simulated barcode scanner behind a pty, registered in the runtime namespace.

Attachment:
  --usb SERIAL         appear as USB endpoint usb#vid_1eab&pid_0d10#SERIAL (default sim0001)
  --com N              appear as serial port dosdevices/COMN instead
  --baud RATE          serial port speed the scanner answers at (default 115200)
  --runtime-dir DIR    runtime namespace directory (default: $KTR_RUNTIME_DIR, ...)

Device:
  --profile FILE       identity, figures and settings table (default: scansim-default.ini
                       beside the program when present, else built-in values)
  --product TEXT       product name            --firmware TEXT   firmware version
  --decoder TEXT       decoder version         --serial TEXT     serial number
  --oem-serial TEXT    OEM serial number
  --image-size WxH     size of the image answered to IMGGET (default 640x480)
  --fault FAULT         misbehave on every reply: none, silence, delay:MS, chunks:N[:MS],
                       nak, garbage, disconnect, truncated, huge[:BYTES], endless

Scans (texts take \r \n \t \\ \xHH escapes):
  --scan TEXT          a scan to send (repeatable), followed by the suffix
  --scan-file FILE     send each line of FILE as a scan
  --scan-suffix TEXT   appended to each scan (default \r)
  --scan-delay MS      wait before the first scan (default 0)
  --scan-every MS      send the --scan list again every MS milliseconds
  --stdin              read standard input: each line is a scan, except control lines
                       :unplug  :plug  :fault FAULT  :quit

Signals: SIGUSR1 unplugs, SIGUSR2 plugs in again, SIGINT/SIGTERM end the program.

  --help               this text
  --version            the program's version

Exit status: 0 when everything asked was done; 1 when a file, the runtime
namespace or the pty said no, or the name is in use by another device (the
line on standard error names it and the reason); 2 when the command line is
wrong.
)";
}

}  // namespace scansim
