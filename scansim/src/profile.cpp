#include "scansim/profile.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

namespace scansim {
namespace {

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

bool ParseUnsigned(const std::string& text, unsigned& out) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) {
        return false;
    }
    out = value;
    return true;
}

using DeviceKeySetter = std::function<bool(ScannerOptions&, const std::string&)>;

const std::map<std::string, DeviceKeySetter>& DeviceKeys() {
    static const std::map<std::string, DeviceKeySetter> keys = {
        {"product",
         [](ScannerOptions& o, const std::string& v) {
             o.identity.productName = v;
             return true;
         }},
        {"firmware",
         [](ScannerOptions& o, const std::string& v) {
             o.identity.firmwareVersion = v;
             return true;
         }},
        {"decoder",
         [](ScannerOptions& o, const std::string& v) {
             o.identity.decoderVersion = v;
             return true;
         }},
        {"serial",
         [](ScannerOptions& o, const std::string& v) {
             o.identity.serialNumber = v;
             return true;
         }},
        {"oem_serial",
         [](ScannerOptions& o, const std::string& v) {
             o.identity.oemSerialNumber = v;
             return true;
         }},
        {"esn",
         [](ScannerOptions& o, const std::string& v) {
             o.identity.esn = v;
             return true;
         }},
        {"buffer_size",
         [](ScannerOptions& o, const std::string& v) { return ParseUnsigned(v, o.bufferSize); }},
        {"image_width",
         [](ScannerOptions& o, const std::string& v) { return ParseUnsigned(v, o.imageWidth); }},
        {"image_height",
         [](ScannerOptions& o, const std::string& v) { return ParseUnsigned(v, o.imageHeight); }},
    };
    return keys;
}

// "NAME = default, range": the range follows the last comma.
bool ParseSettingLine(const std::string& key, const std::string& rest, SettingsTable& table) {
    if (key.size() != 6) {
        return false;
    }
    const auto comma = rest.rfind(',');
    if (comma == std::string::npos) {
        return false;
    }
    std::string value = Trim(std::string_view(rest).substr(0, comma));
    std::string range = Trim(std::string_view(rest).substr(comma + 1));
    if (!ValueInRange(value, range)) {
        return false;
    }
    table.Define(key, value, range);
    return true;
}

}  // namespace

bool LoadProfile(const std::filesystem::path& file, ScannerOptions& options, std::string& error) {
    std::error_code failed;
    if (std::filesystem::is_directory(file, failed)) {
        error = "cannot read profile " + file.string() + ": " + std::strerror(EISDIR);
        return false;
    }
    std::ifstream in(file);
    if (!in) {
        error = "cannot open profile " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    ScannerOptions loaded = options;
    SettingsTable table;
    bool sawSettings = false;
    std::string section;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::string text = Trim(line);
        if (text.empty() || text[0] == '#' || text[0] == ';') {
            continue;
        }
        if (text.front() == '[' && text.back() == ']') {
            section = text.substr(1, text.size() - 2);
            sawSettings = sawSettings || section == "settings";
            continue;
        }
        const auto equals = text.find('=');
        const std::string key = equals == std::string::npos ? "" : Trim(text.substr(0, equals));
        const std::string value = equals == std::string::npos ? "" : Trim(text.substr(equals + 1));
        bool ok = false;
        if (section == "device" && DeviceKeys().count(key) != 0) {
            ok = DeviceKeys().at(key)(loaded, value);
        } else if (section == "settings") {
            ok = ParseSettingLine(key, value, table);
        }
        if (!ok) {
            error = file.string() + ":" + std::to_string(number) + ": bad line: " + text;
            return false;
        }
    }
    if (sawSettings) {
        loaded.settings = std::move(table);
    }
    options = std::move(loaded);
    return true;
}

}  // namespace scansim
