// ferroctl list and watch.
#include "verbs_list.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "ferrolink/ferrolink.h"
#include "platform/codepage.h"

namespace {

using ferroctl::Escaped;
using ferroctl::Fail;
using ferroctl::Field;
using ferroctl::PortText;
using ferroctl::Usage;
using nlohmann::json;

constexpr int kTableSize = 20;

std::vector<_QVDeviceInfo> Discover() {
    std::vector<_QVDeviceInfo> table(kTableSize);
    for (_QVDeviceInfo& record : table)
        std::memset(static_cast<void*>(&record), 0, sizeof record);
    const int found = qv_GetDevice(table.data(), kTableSize);
    table.resize(static_cast<size_t>(found > 0 ? found : 0));
    return table;
}

const char* TypeText(const _QVDeviceInfo& record) {
    return record.nPortType == FERROLINK_PORT_COM ? "COM" : "USB";
}

json RecordJson(int index, const _QVDeviceInfo& record) {
    return json{{"index", index},
                {"type", TypeText(record)},
                {"port", PortText(record)},
                {"product", Field(record.szProductName, sizeof record.szProductName)},
                {"serial", Field(record.szSerialNumber, sizeof record.szSerialNumber)},
                {"firmware", Field(record.szFirmwareVersion, sizeof record.szFirmwareVersion)}};
}

// Columns on a terminal: a character of the wide East Asian ranges takes two.
size_t DisplayWidth(const std::string& text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        char32_t c = lead;
        size_t n = 1;
        if (lead >= 0xF0 && i + 3 < text.size()) {
            n = 4, c = ((lead & 0x07u) << 18) | ((text[i + 1] & 0x3Fu) << 12) |
                       ((text[i + 2] & 0x3Fu) << 6) | (text[i + 3] & 0x3Fu);
        } else if (lead >= 0xE0 && i + 2 < text.size()) {
            n = 3,
            c = ((lead & 0x0Fu) << 12) | ((text[i + 1] & 0x3Fu) << 6) | (text[i + 2] & 0x3Fu);
        } else if (lead >= 0xC0 && i + 1 < text.size()) {
            n = 2, c = ((lead & 0x1Fu) << 6) | (text[i + 1] & 0x3Fu);
        }
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                          (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                          (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                          (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
        width += wide ? 2 : 1;
        i += n;
    }
    return width;
}

// Rows of cells printed with each column as wide as its widest cell, two
// blanks apart; the last column is not padded.
void PrintTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size())
                line.append(widths[c] - DisplayWidth(row[c]) + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

struct WatchArgs {
    int index = 0;
    bool json = false;
    std::optional<unsigned> codePage = ferroctl::LocaleCodePage();
};

// The watch's state, shared with the notification callbacks (which run on
// the library's reader thread).
struct Watch {
    bool json = false;
    std::optional<unsigned> codePage;
    std::mutex mutex;
    std::condition_variable changed;
    bool lost = false;
};

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

void PrintConnection(Watch& watch, const _QVDeviceInfo* record, bool again) {
    if (watch.json) {
        json event{{"event", "connection"},
                   {"time", ferroctl::TimeStamp()},
                   {"state", record != nullptr ? "connected" : "not connected"}};
        if (record != nullptr) {
            event["reconnected"] = again;
            event["port"] = PortText(*record);
            event["product"] = Field(record->szProductName, sizeof record->szProductName);
            event["serial"] = Field(record->szSerialNumber, sizeof record->szSerialNumber);
        }
        ferroctl::PrintJson(event);
        return;
    }
    if (record == nullptr) {
        std::printf("status: not connected\n");
    } else {
        std::printf("%s %s (%s)\n", again ? "status: connected again:" : "watching",
                    Escaped(Field(record->szProductName, sizeof record->szProductName)).c_str(),
                    Escaped(PortText(*record)).c_str());
    }
    std::fflush(stdout);
}

int OnStatus(int nState, void* user) {
    auto& watch = *static_cast<Watch*>(user);
    std::lock_guard lock(watch.mutex);
    if (nState == 1) {
        if (!watch.lost)
            PrintConnection(watch, nullptr, false);
        watch.lost = true;
        watch.changed.notify_all();
    } else if (!watch.json) {
        std::printf("status: connected\n");
        std::fflush(stdout);
    }
    return 0;
}

void OnData(const unsigned char* pData, int nLength, void* user) {
    auto& watch = *static_cast<Watch*>(user);
    const std::string_view bytes(reinterpret_cast<const char*>(pData),
                                 static_cast<size_t>(nLength > 0 ? nLength : 0));
    const auto decoded = ferroctl::Decode(bytes, watch.codePage);
    std::lock_guard lock(watch.mutex);
    if (watch.json) {
        json event{{"event", "scan"},
                   {"time", ferroctl::TimeStamp()},
                   {"length", bytes.size()},
                   {"hex", ferroctl::Hex(bytes)}};
        if (decoded) {
            event["text"] = decoded->text;
            event["encoding"] = decoded->encoding;
        }
        ferroctl::PrintJson(event);
        return;
    }
    std::printf("scan (%d bytes): %s\n", nLength,
                Escaped(decoded ? std::string_view(decoded->text) : bytes, true).c_str());
    std::fflush(stdout);
}

// The same scanner among those discovery finds now: the same port, or the
// same serial number on another port.
std::optional<_QVDeviceInfo> FindAgain(const _QVDeviceInfo& lost) {
    const std::string port = PortText(lost);
    const std::string serial = Field(lost.szSerialNumber, sizeof lost.szSerialNumber);
    std::vector<_QVDeviceInfo> found = Discover();
    for (const _QVDeviceInfo& record : found) {
        if (PortText(record) == port)
            return record;
    }
    for (const _QVDeviceInfo& record : found) {
        if (!serial.empty() && Field(record.szSerialNumber, sizeof record.szSerialNumber) == serial)
            return record;
    }
    return std::nullopt;
}

}  // namespace

int RunListVerb(int argc, char** argv) {
    bool asJson = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::printf(
                "Usage: ferroctl list [--json]\nPrints index, port type, port, product name, "
                "serial number and firmware version of each scanner found.\n"
                "  --json   one JSON array of objects (index, type, port, product, serial,\n"
                "           firmware); an empty array when none is found\n"
                "Exit status 1 when no scanner is found.\n");
            return ferroctl::kExitOk;
        }
        if (arg == "--json")
            asJson = true;
        else
            return Usage("list",
                         (arg.rfind('-', 0) == 0 ? "unknown option " : "unexpected ") + arg);
    }
    const std::vector<_QVDeviceInfo> table = Discover();
    if (asJson) {
        json list = json::array();
        for (size_t i = 0; i < table.size(); ++i)
            list.push_back(RecordJson(static_cast<int>(i), table[i]));
        ferroctl::PrintJson(list);
    } else {
        std::vector<std::vector<std::string>> rows{
            {"#", "type", "port", "product", "serial", "firmware"}};
        for (size_t i = 0; i < table.size(); ++i) {
            const _QVDeviceInfo& r = table[i];
            rows.push_back({std::to_string(i), TypeText(r), Escaped(PortText(r)),
                            Escaped(Field(r.szProductName, sizeof r.szProductName)),
                            Escaped(Field(r.szSerialNumber, sizeof r.szSerialNumber)),
                            Escaped(Field(r.szFirmwareVersion, sizeof r.szFirmwareVersion))});
        }
        PrintTable(rows);
    }
    if (table.empty())
        return Fail("no scanner found");
    return ferroctl::kExitOk;
}

int RunWatchVerb(int argc, char** argv) {
    WatchArgs args;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](unsigned limit, unsigned* out) {
            char* end = nullptr;
            const char* text = i + 1 < argc ? argv[++i] : "";
            const unsigned long value = std::strtoul(text, &end, 10);
            if (*text == '\0' || *end != '\0' || *text == '-' || value > limit)
                return false;
            *out = static_cast<unsigned>(value);
            return true;
        };
        unsigned value = 0;
        if (arg == "--help" || arg == "-h") {
            std::printf(
                "Usage: ferroctl watch [--index N] [--json] [--codepage CP]\n"
                "Registers on a scanner (the first one found, or number N of `ferroctl list`)\n"
                "and prints each scan and each connection change until Ctrl+C. When the\n"
                "scanner goes, it waits for it to come back (the same port, or the same serial\n"
                "number) and goes on.\n"
                "  --json         one JSON object per line: {\"event\":\"connection\", \"state\":\n"
                "                 \"connected\"|\"not connected\", ...} and {\"event\":\"scan\",\n"
                "                 \"length\", \"hex\", \"text\", \"encoding\"}\n"
                "  --codepage CP  read scans that are not UTF-8 in code page CP (936, 1252, ...;\n"
                "                 default: the locale's charset)\n"
                "Scans are shown as text when they decode, control characters and bytes that\n"
                "do not decode as \\xNN.\n");
            return ferroctl::kExitOk;
        } else if (arg == "--index") {
            if (!number(kTableSize - 1, &value))
                return Usage("watch", "--index needs a number from 0 to 19");
            args.index = static_cast<int>(value);
        } else if (arg == "--codepage") {
            if (!number(65535, &value))
                return Usage("watch", "--codepage needs a code page number");
            if (value != 0 && platform::CodePageCharset(value).empty())
                return Usage("watch", "code page " + std::to_string(value) + " is not supported");
            args.codePage = value;
        } else if (arg == "--json") {
            args.json = true;
        } else {
            return Usage("watch",
                         (arg.rfind('-', 0) == 0 ? "unknown option " : "unexpected ") + arg);
        }
    }
    const std::vector<_QVDeviceInfo> table = Discover();
    if (table.empty())
        return Fail("no scanner found");
    if (args.index >= static_cast<int>(table.size()))
        return Fail("no scanner at index " + std::to_string(args.index) + " (" +
                    std::to_string(table.size()) + " found, numbered from 0)");
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    Watch watch;
    watch.json = args.json;
    watch.codePage = args.codePage;
    // Records stay where the library was given them until the end.
    std::list<_QVDeviceInfo> records{table[static_cast<size_t>(args.index)]};
    _QVDeviceInfo* current = &records.back();
    // Registered under the lock: a scan that comes at once waits for the
    // connection line, so lines keep the order of events. The callbacks run
    // on the library's reader thread, never inside the registration.
    {
        std::lock_guard lock(watch.mutex);
        ktr_register_notify_all(current, OnStatus, OnData, &watch);
        PrintConnection(watch, current, false);
    }
    auto searched = std::chrono::steady_clock::now();
    while (g_stop == 0) {
        std::unique_lock lock(watch.mutex);
        watch.changed.wait_for(lock, std::chrono::milliseconds(200));
        if (!watch.lost)
            continue;
        lock.unlock();
        if (current != nullptr) {
            ktr_unregister_notify(current, 1, 1);
            current->Close(0);
            current = nullptr;
        }
        // Discovery opens every port: once every half second is enough.
        if (std::chrono::steady_clock::now() - searched < std::chrono::milliseconds(500))
            continue;
        searched = std::chrono::steady_clock::now();
        std::optional<_QVDeviceInfo> back = FindAgain(records.back());
        if (!back)
            continue;
        records.push_back(*back);
        current = &records.back();
        lock.lock();
        watch.lost = false;
        ktr_register_notify_all(current, OnStatus, OnData, &watch);
        PrintConnection(watch, current, true);
        lock.unlock();
    }
    if (current != nullptr) {
        ktr_unregister_notify(current, 1, 1);
        current->Close(0);
    }
    if (!args.json)
        std::printf("stopped\n");
    return ferroctl::kExitOk;
}
