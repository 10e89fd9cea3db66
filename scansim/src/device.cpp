#include "device.h"

#include <algorithm>
#include <cstdio>

#include "wire.h"

namespace scansim {
namespace {

constexpr size_t kNameSize = 6;
constexpr unsigned long kMaxImageBytes = 999999;  // six digits in the image header

ItemAnswer Ack(std::string text) {
    return {std::move(text), kAck};
}
ItemAnswer Nak(std::string_view text) {
    return {std::string(text), kNak};
}

std::string_view Argument(std::string_view item, std::string_view prefix) {
    return item.substr(prefix.size());
}

// "<NAME>1" switches: only the value 1 is known.
ItemHandler EnableSwitch(std::string_view prefix, bool DeviceState::*flag) {
    return [prefix, flag](DeviceState& s, FrameContext&, std::string_view item) {
        if (Argument(item, prefix) != "1") {
            return Nak(item);
        }
        s.*flag = true;
        return Ack(std::string(item));
    };
}

// "<NAME><text>" edits of identity texts, allowed only after their enable switch.
ItemHandler IdentityEdit(std::string_view prefix, bool DeviceState::*enabled,
                         std::string Identity::*field, bool dropTrailingD) {
    return [=](DeviceState& s, FrameContext&, std::string_view item) {
        std::string_view value = Argument(item, prefix);
        if (dropTrailingD && !value.empty() && value.back() == 'D') {
            value.remove_suffix(1);
        }
        // Hosts cut the serial out of "Serial Number: X", sometimes with the blank.
        while (!value.empty() && value.front() == ' ') {
            value.remove_prefix(1);
        }
        while (!value.empty() && value.back() == ' ') {
            value.remove_suffix(1);
        }
        if (!(s.*enabled) || value.empty()) {
            return Nak(item);
        }
        s.identity.*field = std::string(value);
        return Ack(std::string(item));
    };
}

ItemHandler Illumination(std::string_view prefix, int DeviceState::*field) {
    return [prefix, field](DeviceState& s, FrameContext&, std::string_view item) {
        std::string_view value = Argument(item, prefix);
        if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
            return Nak(item);
        }
        s.*field = value[0] - '0';
        return Ack(std::string(item));
    };
}

ItemHandler Accepted() {
    return
        [](DeviceState&, FrameContext&, std::string_view item) { return Ack(std::string(item)); };
}

ItemAnswer Identification(DeviceState& s, FrameContext&, std::string_view) {
    return Ack(IdentificationText(s.identity));
}

ItemAnswer DataFormatClear(DeviceState& s, FrameContext& frame, std::string_view item) {
    s.settings.Set("DFMADD", "");
    frame.collectingDataFormat = true;
    return Ack(std::string(item));
}

ItemAnswer DataFormatAdd(DeviceState& s, FrameContext& frame, std::string_view item) {
    const Setting* current = s.settings.Find("DFMADD");
    std::string text = current ? current->value : std::string();
    text += std::string(Argument(item, "DFMADD")) + ";";
    if (!s.settings.Set("DFMADD", text)) {
        return Nak(item);
    }
    frame.collectingDataFormat = true;
    return Ack(std::string(item));
}

ItemAnswer FactoryDefaults(DeviceState& s, FrameContext&, std::string_view item) {
    s.settings.ResetToDefaults();
    return Ack(std::string(item));
}

ItemAnswer FirmwareStart(DeviceState& s, FrameContext&, std::string_view item) {
    if (!s.firmware.Begin(Argument(item, "FWSTART"))) {
        return Nak(item);
    }
    return Ack(std::string(item));
}

ItemAnswer FirmwareEnd(DeviceState& s, FrameContext&, std::string_view item) {
    auto image = s.firmware.Finish();
    if (!image) {
        return Nak(item);
    }
    if (auto version = FirmwareReceiver::VersionOf(*image)) {
        s.identity.firmwareVersion = *version;
    }
    ++s.firmwareUpdates;
    return Ack(std::string(item));
}

// Reply bytes 7 to 26: "IMGGET", width (4 digits), height (4 digits), byte
// count (6 digits); the grey pixels follow, none of them NUL or ETX.
ItemAnswer ImageCapture(DeviceState& s, FrameContext&, std::string_view) {
    unsigned width = s.imageWidth > 9999 ? 9999 : s.imageWidth;
    unsigned height = s.imageHeight > 9999 ? 9999 : s.imageHeight;
    if (static_cast<unsigned long>(width) * height > kMaxImageBytes) {
        height = static_cast<unsigned>(kMaxImageBytes / (width ? width : 1));
    }
    char head[32];
    std::snprintf(head, sizeof head, "IMGGET%04u%04u%06u", width, height, width * height);
    std::string text(head);
    text.reserve(text.size() + width * height);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            text += static_cast<char>(0x20 + (x + y) % 0xC0);
        }
    }
    return Ack(std::move(text));
}

ItemAnswer SettingItem(DeviceState& s, FrameContext& frame, std::string_view item) {
    const Setting* setting =
        item.size() >= kNameSize ? s.settings.Find(item.substr(0, kNameSize)) : nullptr;
    if (setting == nullptr) {
        if (frame.collectingDataFormat) {
            return DataFormatAdd(s, frame, "DFMADD" + std::string(item));
        }
        return Nak(item);
    }
    const std::string_view value = item.substr(kNameSize);
    if (value == "*") {
        return Ack(setting->name + setting->value);
    }
    if (value == "&") {
        return Ack(setting->name + setting->defaultValue);
    }
    if (value == "^") {
        return Ack(setting->name + setting->range);
    }
    if (!s.settings.Set(setting->name, value)) {
        return Nak(item);
    }
    return Ack(std::string(item));
}

// "@&", "@^", "@*": a FACDEF item first, then every setting as name + field.
std::string GroupReply(const DeviceState& s, std::string Setting::*field) {
    std::string payload = "FACDEF";
    payload += kAck;
    payload += ';';
    bool first = true;
    for (const auto& setting : s.settings.Entries()) {
        if (!first) {
            payload += kAck;
            payload += ';';
        }
        first = false;
        payload += setting.name + setting.*field;
    }
    return BuildReply(payload, kAck);
}

ItemAnswer AnswerItem(DeviceState& state, FrameContext& frame, std::string_view item) {
    for (const auto& entry : CommandTable()) {
        if (item.substr(0, entry.prefix.size()) == entry.prefix) {
            return entry.handler(state, frame, item);
        }
    }
    return SettingItem(state, frame, item);
}

std::vector<std::string_view> SplitItems(std::string_view body) {
    std::vector<std::string_view> items;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find(';', start);
        if (end == std::string_view::npos) {
            end = body.size();
        }
        if (end > start) {
            items.push_back(body.substr(start, end - start));
        }
        start = end + 1;
    }
    return items;
}

}  // namespace

const std::vector<CommandEntry>& CommandTable() {
    static const std::vector<CommandEntry> table = {
        {"QRYSYS", Identification},
        {"QRYPDN", [](DeviceState& s, FrameContext&,
                      std::string_view) { return Ack("QRYPDN" + s.identity.productName); }},
        {"QRYPSN", [](DeviceState& s, FrameContext&,
                      std::string_view) { return Ack("QRYPSN" + s.identity.serialNumber); }},
        {"QRYFWV", [](DeviceState& s, FrameContext&,
                      std::string_view) { return Ack("QRYFWV" + s.identity.firmwareVersion); }},
        {"QRYESN", [](DeviceState& s, FrameContext&,
                      std::string_view) { return Ack("QRYESN" + s.identity.esn); }},
        {"ESNSET",
         [](DeviceState& s, FrameContext&, std::string_view item) {
             if (item.size() == 6) {
                 return Nak(item);
             }
             s.identity.esn = std::string(Argument(item, "ESNSET"));
             return Ack(std::string(item));
         }},
        {"PINFEN", EnableSwitch("PINFEN", &DeviceState::productInfoEditable)},
        {"BPINFE", EnableSwitch("BPINFE", &DeviceState::backupInfoEditable)},
        {"PDNEDT",
         IdentityEdit("PDNEDT", &DeviceState::productInfoEditable, &Identity::productName, false)},
        {"PSNEDT",
         IdentityEdit("PSNEDT", &DeviceState::productInfoEditable, &Identity::serialNumber, false)},
        {"BSNEDT", IdentityEdit("BSNEDT", &DeviceState::backupInfoEditable,
                                &Identity::oemSerialNumber, true)},
        {"DFMQCU",
         [](DeviceState& s, FrameContext&, std::string_view) {
             const Setting* format = s.settings.Find("DFMADD");
             return Ack("DFMQCU" + (format ? format->value : std::string()));
         }},
        {"DFMCAL", DataFormatClear},
        {"DFMADD", DataFormatAdd},
        {"BUFQRY", [](DeviceState& s, FrameContext&,
                      std::string_view) { return Ack("BUFQRY" + std::to_string(s.bufferSize)); }},
        {"GENDEF", FactoryDefaults},
        {"FACDEF", FactoryDefaults},
        {"BASSFY", Accepted()},
        {"SAVEFY", Accepted()},
        {"BASRES", Accepted()},
        {"CUSSAV", Accepted()},
        {"#ILLCLR", Illumination("#ILLCLR", &DeviceState::illuminationColour)},
        {"#ILLSCN", Illumination("#ILLSCN", &DeviceState::illuminationMode)},
        {"FWSTART", FirmwareStart},
        {"FWEND", FirmwareEnd},
        {"IMGGET", ImageCapture},
    };
    return table;
}

// Settings of one group may be joined by ',' with the group's first 3
// characters left out ("ALLENA1,1DC0" sets ALLENA and ALL1DC); commands keep
// their commas (FWSTART1,size,crc).
std::vector<std::string> ExpandSettingGroups(const std::vector<std::string_view>& items) {
    std::vector<std::string> expanded;
    for (std::string_view item : items) {
        const bool isCommand =
            std::any_of(CommandTable().begin(), CommandTable().end(), [item](const auto& entry) {
                return item.substr(0, entry.prefix.size()) == entry.prefix;
            });
        size_t comma = item.find(',');
        if (isCommand || comma == std::string_view::npos) {
            expanded.emplace_back(item);
            continue;
        }
        const std::string_view group = item.substr(0, 3);
        expanded.emplace_back(item.substr(0, comma));
        while (comma != std::string_view::npos) {
            const size_t next = item.find(',', comma + 1);
            expanded.push_back(std::string(group) +
                               std::string(item.substr(
                                   comma + 1, next == item.npos ? item.npos : next - comma - 1)));
            comma = next;
        }
    }
    return expanded;
}

std::string IdentificationText(const Identity& identity) {
    return "Product Name: " + identity.productName +
           "\r\nFirmware Version: " + identity.firmwareVersion +
           "\r\nDecoder Version: " + identity.decoderVersion +
           "\r\nSerial Number: " + identity.serialNumber +
           "\r\nOEM Serial Number: " + identity.oemSerialNumber + "\r\n";
}

std::string SingleReadAnswer(const DeviceState& state) {
    return state.lastScan.empty() ? std::string("NOREAD\r") : state.lastScan;
}

std::string AnswerFrame(DeviceState& state, std::string_view body) {
    if (body == "&") {
        return GroupReply(state, &Setting::defaultValue);
    }
    if (body == "^") {
        return GroupReply(state, &Setting::range);
    }
    if (body == "*") {
        return GroupReply(state, &Setting::value);
    }
    const auto items = ExpandSettingGroups(SplitItems(body));
    if (items.empty()) {
        return BuildReply("", kNak);
    }
    // Items of one frame are answered in order, separated by ','; the reply's
    // status byte is the last item's.
    FrameContext frame;
    std::string payload;
    char status = kAck;
    for (size_t i = 0; i < items.size(); ++i) {
        ItemAnswer answer = AnswerItem(state, frame, items[i]);
        if (i > 0) {
            payload += status;
            payload += ',';
        }
        payload += answer.text;
        status = answer.status;
    }
    return BuildReply(payload, status);
}

}  // namespace scansim
