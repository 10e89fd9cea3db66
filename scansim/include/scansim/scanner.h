// The scanner simulator: the device side of the scanner's wire protocol behind
// a pty, registered in the runtime namespace as a USB endpoint or a COM port.
// One service thread per scanner; every member is safe to call from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scansim/settings.h"

namespace scansim {

enum class Attachment { kUsb, kCom };

// What the scanner says about itself in its identification answer.
struct Identity {
    std::string productName = "KTR Sim Scanner";
    std::string firmwareVersion = "V1.0.0";
    std::string decoderVersion = "D1.0.0";
    std::string serialNumber = "SIM0001";
    std::string oemSerialNumber = "OEM0001";
    std::string esn = "0000000000:0000:0";  // answered to QRYESN, written by ESNSET
};

// Misbehaviour applied to every framed reply until the fault is cleared.
struct Fault {
    enum class Kind {
        kNone,
        kSilence,     // no reply at all
        kDelay,       // reply after `delayMs`
        kChunked,     // reply written in `chunks` pieces, `delayMs` apart
        kNak,         // status byte NAK instead of ACK
        kGarbage,     // unframed bytes instead of the reply
        kDisconnect,  // half the reply, then the device is unplugged
        kTruncated,   // half the reply, then nothing more (still plugged in)
        kHuge,        // a framed, acknowledged reply whose payload is `hugeBytes`
        kEndless,     // a framed reply whose payload never ends
    };
    Kind kind = Kind::kNone;
    int delayMs = 0;
    int chunks = 1;
    size_t hugeBytes = size_t{1} << 20;
};

// Parses "none", "silence", "delay:MS", "chunks:N[:MS]", "nak", "garbage", "disconnect",
// "truncated", "huge[:BYTES]" (default 1 MiB), "endless".
std::optional<Fault> ParseFault(std::string_view text);

// An image answer of the caller's making, sent to IMGGET instead of the real
// one: the reply header, `header` as reply bytes 7 on (any bytes, any length),
// `bodyBytes` grey bytes, then ACK ';' ETX. With kEndless the grey bytes go on
// until the host stops reading them (or the scanner is stopped).
struct ImageAnswer {
    static constexpr uint64_t kEndless = UINT64_MAX;
    std::string header;
    uint64_t bodyBytes = 0;
};

struct ScannerOptions {
    Attachment attachment = Attachment::kUsb;
    std::string usbSerial = "sim0001";  // last part of usb#vid_1eab&pid_0d10#<serial>
    unsigned comPort = 3;               // dosdevices/COM<n>
    unsigned baudRate = 115200;         // COM only: bytes at another speed are ignored
    Identity identity;
    SettingsTable settings = SettingsTable::Builtin();
    unsigned bufferSize = 1024;  // answered to BUFQRY
    unsigned imageWidth = 640;   // IMGGET image, 8-bit grey
    unsigned imageHeight = 480;
};

// A line of the log of what the scanner received: the bytes exactly as they
// came, cut into frames, firmware blocks and unframed runs. The log keeps the
// newest 10000 to 20000 entries.
struct Received {
    enum class Kind { kFrame, kFirmwareBlock, kRaw, kIgnoredBaud };
    Kind kind;
    std::string bytes;
};

class Scanner {
  public:
    // Creates the pty, registers it and starts the service thread. Null with
    // `error` filled when the pty or the namespace link cannot be made.
    static std::unique_ptr<Scanner> Start(ScannerOptions options, std::string* error = nullptr);
    ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // Namespace folder and entry name ("usb", "usb#vid_1eab&pid_0d10#sim0001"
    // or "dosdevices", "COM3") and the full link path under the runtime namespace
    // (where the link is while plugged in).
    std::string Folder() const;
    std::string EntryName() const;
    std::filesystem::path LinkPath() const;
    bool IsPlugged() const;

    Identity GetIdentity() const;
    void SetIdentity(const Identity& identity);

    // Writes scan bytes unframed, as the scanner does after a read. false when unplugged.
    bool SendScan(std::string_view bytes);
    // Each line of the file (without its line end) followed by `suffix`, `gapMs` apart.
    bool SendScansFromFile(const std::filesystem::path& file, std::string_view suffix,
                           int gapMs = 0);

    // Unplug removes the link and closes the pty (the host sees hang-up);
    // Plug makes a new pty and link. Both return false when already in that state.
    bool Unplug();
    bool Plug();

    void SetFault(const Fault& fault);
    Fault GetFault() const;

    std::vector<Received> Log() const;
    void ClearLog();

    SettingsTable GetSettings() const;
    void SetSettings(const SettingsTable& settings);
    std::optional<std::string> SettingValue(std::string_view name) const;
    bool SetSetting(std::string_view name, std::string_view value);

    void SetImageSize(unsigned width, unsigned height);
    // Replaces the IMGGET answer until called with nullopt.
    void SetImageAnswer(std::optional<ImageAnswer> answer);
    // Firmware images taken so far (whole transfers that ended in ACK).
    unsigned FirmwareUpdates() const;

    // Stops the service thread and unplugs; also done by the destructor.
    void Stop();

    struct Impl;

  private:
    explicit Scanner(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace scansim
