// What the simulated scanner knows and how it answers a command frame.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware.h"
#include "scansim/scanner.h"

namespace scansim {

struct DeviceState {
    Identity identity;
    SettingsTable settings;
    unsigned bufferSize = 1024;
    unsigned imageWidth = 640;
    unsigned imageHeight = 480;
    bool productInfoEditable = false;  // PINFEN1 seen
    bool backupInfoEditable = false;   // BPINFE1 seen
    int illuminationColour = 0;        // #ILLCLR<n>
    int illuminationMode = 0;          // #ILLSCN<n>
    std::string lastScan;              // answered to ESC Q
    FirmwareReceiver firmware;
    unsigned firmwareUpdates = 0;
};

// One item's answer: its text (name and value as the device echoes them) and status.
struct ItemAnswer {
    std::string text;
    char status;
};

// Per-frame context: later items of a frame may depend on earlier ones.
struct FrameContext {
    bool collectingDataFormat = false;  // after DFMCAL / DFMADD in the same frame
};

using ItemHandler = std::function<ItemAnswer(DeviceState&, FrameContext&, std::string_view item)>;

struct CommandEntry {
    std::string_view prefix;
    ItemHandler handler;
};

// Handlers by command prefix; the first matching prefix wins, settings
// ("<NAME><value>", "<NAME>*", "<NAME>&", "<NAME>^") come after the table.
const std::vector<CommandEntry>& CommandTable();

// The whole reply frame (or reply bytes) for a frame body ("QRYSYS,PDN,PSN",
// "&", "232BAD6;ALLENA1", ...).
std::string AnswerFrame(DeviceState& state, std::string_view body);

// The identification answer text.
std::string IdentificationText(const Identity& identity);

// The unframed answer to ESC Q.
std::string SingleReadAnswer(const DeviceState& state);

}  // namespace scansim
