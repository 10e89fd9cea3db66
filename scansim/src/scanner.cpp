#include "scansim/scanner.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "device.h"
#include "platform/com_name.h"
#include "platform/runtime_namespace.h"
#include "pty_port.h"
#include "wire.h"

namespace scansim {
namespace {

constexpr size_t kReadChunk = 4096;
constexpr size_t kMaxPendingFrame = 64 * 1024;  // an unterminated frame longer than this is junk
constexpr int kIdlePollMs = 100;
constexpr int kDefaultChunkGapMs = 50;
constexpr int kDrainLimitMs = 2000;
constexpr size_t kMaxLogEntries = 20000;
constexpr std::string_view kGarbage{"\x7F\xFEGARBAGE\x00\x15\xFF", 13};
constexpr size_t kStreamPiece = 64 * 1024;
// A streamed reply ends once the host has taken nothing for this long.
constexpr int kStreamGiveUpMs = 1000;

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

struct Scanner::Impl {
    explicit Impl(ScannerOptions opts) : options(std::move(opts)) {
        state.identity = options.identity;
        state.settings = options.settings;
        state.bufferSize = options.bufferSize;
        state.imageWidth = options.imageWidth;
        state.imageHeight = options.imageHeight;
    }

    ScannerOptions options;

    mutable std::mutex mu;  // state, fault, log, requests, plugged, stopping
    std::condition_variable stopCv;
    DeviceState state;
    Fault fault;
    std::optional<ImageAnswer> imageAnswer;
    std::vector<Received> log;
    std::deque<std::function<void()>> requests;
    bool stopping = false;
    bool plugged = false;

    std::mutex portMu;  // opening, closing and writing the pty
    PtyPort port;       // read and closed by the service thread only
    WakeHandle wake;
    std::string input;  // bytes from the host not yet taken apart
    std::thread thread;
    std::thread::id serviceId;

    std::string Folder() const {
        return std::string(options.attachment == Attachment::kUsb ? platform::kUsbFolder
                                                                  : platform::kComFolder);
    }
    std::string EntryName() const {
        if (options.attachment == Attachment::kUsb) {
            return "usb#vid_1eab&pid_0d10#" + LowerCase(options.usbSerial);
        }
        return platform::FormatComName(options.comPort);
    }

    void Record(Received::Kind kind, std::string bytes) {
        std::lock_guard lock(mu);
        // A long-running program keeps only the newest entries.
        if (log.size() >= kMaxLogEntries) {
            log.erase(log.begin(), log.begin() + kMaxLogEntries / 2);
        }
        log.push_back({kind, std::move(bytes)});
    }

    // Runs `work` on the service thread and waits for it.
    bool RunOnService(std::function<bool()> work) {
        if (std::this_thread::get_id() == serviceId) {
            return work();
        }
        auto task = std::make_shared<std::packaged_task<bool()>>(std::move(work));
        auto result = task->get_future();
        {
            std::lock_guard lock(mu);
            if (stopping) {
                return false;
            }
            requests.emplace_back([task] { (*task)(); });
        }
        wake.Signal();
        return result.get();
    }

    std::filesystem::path EntryPath() const {
        return platform::RuntimeDir() / Folder() / EntryName();
    }

    // The terminal our name leads to now, when it leads to a live one (another
    // scanner's, or ovrixd's port); nullopt when the name is free or its link
    // is stale.
    std::optional<std::filesystem::path> LiveEntry() const {
        if (options.attachment == Attachment::kUsb) {
            return platform::ResolveUsbDevicePath(platform::UsbDevicePathFromName(EntryName()));
        }
        return platform::ResolveComPort(options.comPort);
    }

    // Whether our name still leads to our own pty.
    bool EntryIsOurs() const {
        std::error_code failed;
        const auto target = std::filesystem::read_symlink(EntryPath(), failed);
        return !failed && target == port.SlavePath();
    }

    bool DoPlug(std::string& error) {
        {
            std::lock_guard lock(portMu);
            if (port.IsOpen()) {
                error = "already plugged";
                return false;
            }
            // A name in use stays with its owner: taking its link over would
            // hide that device, and removing it at the end would cut it off.
            if (const auto live = LiveEntry()) {
                error = EntryPath().string() + ": name in use (it leads to " + live->string() +
                        "); choose another --usb serial or --com number";
                return false;
            }
            if (!port.Open(error)) {
                return false;
            }
        }
        if (const auto added = platform::AddEntry(Folder(), EntryName(), port.SlavePath());
            !added) {
            error = "cannot add namespace entry " + Folder() + "/" + EntryName() + ": " +
                    added.GetError().message;
            std::lock_guard lock(portMu);
            port.Close();
            return false;
        }
        std::lock_guard lock(mu);
        plugged = true;
        return true;
    }

    bool DoUnplug() {
        {
            std::lock_guard lock(mu);
            if (!plugged) {
                return false;
            }
            plugged = false;
            state.firmware.Abort();
        }
        // The link goes first, so a host that sees the hang-up finds no stale
        // name; a link that another device has taken since stays.
        {
            std::lock_guard lock(portMu);
            if (EntryIsOurs()) {
                platform::RemoveEntry(Folder(), EntryName());
            }
        }
        std::lock_guard lock(portMu);
        port.Close();
        input.clear();
        return true;
    }

    bool Write(std::string_view bytes) {
        std::lock_guard lock(portMu);
        return port.IsOpen() && port.WriteAll(bytes);
    }

    // Sleeps unless the scanner is being stopped; false when it is.
    bool Pause(int ms) {
        std::unique_lock lock(mu);
        return !stopCv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
    }

    void SendReply(std::string reply) {
        Fault now;
        {
            std::lock_guard lock(mu);
            now = fault;
        }
        switch (now.kind) {
            case Fault::Kind::kNone:
                Write(reply);
                break;
            case Fault::Kind::kSilence:
                break;
            case Fault::Kind::kDelay:
                if (Pause(now.delayMs)) {
                    Write(reply);
                }
                break;
            case Fault::Kind::kChunked:
                WriteInChunks(reply, std::max(1, now.chunks),
                              now.delayMs > 0 ? now.delayMs : kDefaultChunkGapMs);
                break;
            case Fault::Kind::kNak:
                if (reply.size() >= 3 && reply.compare(0, kReplyHeader.size(), kReplyHeader) == 0) {
                    reply[reply.size() - 3] = kNak;
                }
                Write(reply);
                break;
            case Fault::Kind::kGarbage:
                Write(kGarbage);
                break;
            case Fault::Kind::kDisconnect:
                Write(std::string_view(reply).substr(0, reply.size() / 2));
                port.WaitDrained(kDrainLimitMs);
                DoUnplug();
                break;
            case Fault::Kind::kTruncated:
                Write(std::string_view(reply).substr(0, reply.size() / 2));
                break;
            case Fault::Kind::kHuge:
                Write(HugeReply(reply, now.hugeBytes));
                break;
            case Fault::Kind::kEndless: {
                const size_t head = std::min<size_t>(reply.size(), kReplyHeader.size() + 1);
                if (Write(std::string_view(reply).substr(0, head))) {
                    StreamBytes(ImageAnswer::kEndless, PayloadSeed(reply, head),
                                [this] { return fault.kind == Fault::Kind::kEndless; });
                }
                break;
            }
        }
    }

    static std::string PayloadSeed(const std::string& reply, size_t head) {
        return reply.size() > head + 3 ? reply.substr(head, reply.size() - head - 3)
                                       : std::string("ENDLESS");
    }

    // Writes `count` bytes made of `seed` repeated (kEndless: without end) in
    // pieces, so no reply of any length is held whole. false when the host
    // stopped taking them, the port closed, the scanner is being stopped or
    // `wanted` (asked under the state lock) turned false.
    bool StreamBytes(uint64_t count, std::string_view seed, const std::function<bool()>& wanted) {
        std::string piece;
        while (piece.size() < kStreamPiece) {
            piece += seed;
        }
        piece.resize(kStreamPiece);
        while (count > 0) {
            {
                std::lock_guard lock(mu);
                if (stopping || !wanted()) {
                    return false;
                }
            }
            const size_t n = static_cast<size_t>(std::min<uint64_t>(count, piece.size()));
            std::lock_guard lock(portMu);
            if (!port.IsOpen() ||
                !port.WriteAll(std::string_view(piece).substr(0, n), kStreamGiveUpMs)) {
                return false;
            }
            if (count != ImageAnswer::kEndless) {
                count -= n;
            }
        }
        return true;
    }

    // The IMGGET answer made by the test, streamed rather than built.
    void SendImageAnswer(const ImageAnswer& answer) {
        std::string head(kReplyHeader);
        head += '0';
        head += answer.header;
        if (!Write(head)) {
            return;
        }
        if (StreamBytes(answer.bodyBytes, "\x41\x42\x43\x44",
                        [this] { return imageAnswer.has_value(); })) {
            Write(std::string{kAck} + ";\x03");
        }
    }

    // The reply's own header and first payload byte, then `payload` bytes (the
    // reply's payload repeated), then ACK ';' ETX: a host must either take it
    // whole or refuse it, never run past its buffers.
    static std::string HugeReply(const std::string& reply, size_t kHugePayload) {
        const size_t head = std::min<size_t>(reply.size(), kReplyHeader.size() + 1);
        std::string seed = reply.size() > head + 3 ? reply.substr(head, reply.size() - head - 3)
                                                   : std::string("HUGE");
        std::string huge = reply.substr(0, head);
        while (huge.size() - head < kHugePayload)
            huge += seed;
        huge.resize(head + kHugePayload);
        huge += kAck;
        huge += ";\x03";
        return huge;
    }

    void WriteInChunks(std::string_view reply, int chunks, int gapMs) {
        const size_t piece = (reply.size() + chunks - 1) / static_cast<size_t>(chunks);
        while (!reply.empty()) {
            const size_t n = std::min(piece, reply.size());
            if (!Write(reply.substr(0, n))) {
                return;
            }
            reply.remove_prefix(n);
            if (!reply.empty() && !Pause(gapMs)) {
                return;
            }
        }
    }

    void HandleFrame(std::string frame) {
        Record(Received::Kind::kFrame, frame);
        std::optional<ImageAnswer> image;
        {
            std::lock_guard lock(mu);
            image = imageAnswer;
        }
        if (image && FrameBody(frame).starts_with("IMGGET")) {
            SendImageAnswer(*image);
            return;
        }
        std::string reply;
        {
            std::lock_guard lock(mu);
            reply = AnswerFrame(state, FrameBody(frame));
        }
        SendReply(std::move(reply));
    }

    void HandleFirmwareBlock(std::string block) {
        Record(Received::Kind::kFirmwareBlock, block);
        char answer;
        {
            std::lock_guard lock(mu);
            answer = state.firmware.TakeBlock(block);
        }
        Write(std::string_view(&answer, 1));
    }

    bool FirmwareActive() {
        std::lock_guard lock(mu);
        return state.firmware.Active();
    }

    // Takes complete pieces off the front of `input`; leaves a partial one there.
    void ProcessInput() {
        while (!input.empty() && port.IsOpen()) {
            const char first = input[0];
            if (first == kFrameHeader[0]) {
                if (input.size() < kFrameHeader.size()) {
                    return;
                }
                if (input.compare(0, kFrameHeader.size(), kFrameHeader) == 0) {
                    const auto end = input.find(kFrameEnd, kFrameHeader.size());
                    if (end == std::string::npos) {
                        if (input.size() > kMaxPendingFrame) {
                            TakeRaw(input.size());
                        }
                        return;
                    }
                    std::string frame = input.substr(0, end + kFrameEnd.size());
                    input.erase(0, frame.size());
                    HandleFrame(std::move(frame));
                    continue;
                }
            } else if (first == kBlockStart && FirmwareActive()) {
                if (FirmwareReceiver::BlockHeadDamaged(input)) {
                    // Waiting for the bytes a damaged length announces would stall
                    // the transfer: refuse at once and drop what is buffered.
                    Record(Received::Kind::kFirmwareBlock, input);
                    input.clear();
                    Write(std::string_view(&kNak, 1));
                    return;
                }
                const size_t length = FirmwareReceiver::BlockLength(input);
                if (length == 0 || input.size() < length) {
                    return;
                }
                std::string block = input.substr(0, length);
                input.erase(0, length);
                HandleFirmwareBlock(std::move(block));
                continue;
            } else if (first == kEsc) {
                if (input.size() < 2) {
                    return;
                }
                if (input[1] == 'Q') {
                    input.erase(0, 2);
                    Record(Received::Kind::kRaw, "\x1BQ");
                    std::string answer;
                    {
                        std::lock_guard lock(mu);
                        answer = SingleReadAnswer(state);
                    }
                    SendReply(std::move(answer));
                    continue;
                }
            }
            TakeRaw(RawRunLength());
        }
    }

    // Unframed bytes run up to the next byte that may start a frame, block or ESC Q.
    size_t RawRunLength() {
        const std::string starts = FirmwareActive() ? std::string("\x7E\x1B\x10") : "\x7E\x1B";
        const auto next = input.find_first_of(starts, 1);
        return next == std::string::npos ? input.size() : next;
    }

    void TakeRaw(size_t length) {
        Record(Received::Kind::kRaw, input.substr(0, length));
        input.erase(0, length);
    }

    void ReadFromHost() {
        char buffer[kReadChunk];
        const long n = port.Read(buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0) {
                Pause(10);  // the pty reports an error; do not spin on it
            }
            return;
        }
        std::string bytes(buffer, static_cast<size_t>(n));
        // A serial scanner only understands the host at its own baud rate.
        if (options.attachment == Attachment::kCom && port.SlaveBaud() != options.baudRate) {
            Record(Received::Kind::kIgnoredBaud, std::move(bytes));
            return;
        }
        input += bytes;
        ProcessInput();
    }

    bool TakeRequests(std::deque<std::function<void()>>& out) {
        std::lock_guard lock(mu);
        out.swap(requests);
        return !stopping;
    }

    void Serve() {
        std::deque<std::function<void()>> pending;
        while (true) {
            wake.Drain();
            const bool running = TakeRequests(pending);
            for (auto& request : pending) {
                request();
            }
            pending.clear();
            if (!running) {
                return;
            }
            switch (port.Wait(wake.Fd(), kIdlePollMs)) {
                case PtyPort::WaitResult::kReadable:
                    ReadFromHost();
                    break;
                case PtyPort::WaitResult::kHangup:
                    Pause(10);
                    break;
                default:
                    break;
            }
        }
    }
};

std::optional<Fault> ParseFault(std::string_view text) {
    auto number = [](std::string_view digits, int& out) {
        if (digits.empty() || digits.size() > 7 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            return false;
        }
        out = std::stoi(std::string(digits));
        return true;
    };
    const auto colon = text.find(':');
    const std::string_view kind = text.substr(0, colon);
    const std::string_view rest = colon == std::string_view::npos ? "" : text.substr(colon + 1);
    Fault fault;
    if (kind == "none" || kind == "silence" || kind == "nak" || kind == "garbage" ||
        kind == "disconnect" || kind == "truncated" || kind == "huge" || kind == "endless") {
        if (kind == "huge" && colon != std::string_view::npos) {
            int bytes = 0;
            if (!number(rest, bytes) || bytes < 1) {
                return std::nullopt;
            }
            fault.kind = Fault::Kind::kHuge;
            fault.hugeBytes = static_cast<size_t>(bytes);
            return fault;
        }
        if (!rest.empty()) {
            return std::nullopt;
        }
        fault.kind = kind == "none"        ? Fault::Kind::kNone
                     : kind == "silence"   ? Fault::Kind::kSilence
                     : kind == "nak"       ? Fault::Kind::kNak
                     : kind == "garbage"   ? Fault::Kind::kGarbage
                     : kind == "truncated" ? Fault::Kind::kTruncated
                     : kind == "huge"      ? Fault::Kind::kHuge
                     : kind == "endless"   ? Fault::Kind::kEndless
                                           : Fault::Kind::kDisconnect;
        return fault;
    }
    if (kind == "delay") {
        fault.kind = Fault::Kind::kDelay;
        return number(rest, fault.delayMs) ? std::optional(fault) : std::nullopt;
    }
    if (kind == "chunks") {
        fault.kind = Fault::Kind::kChunked;
        const auto colon2 = rest.find(':');
        if (!number(rest.substr(0, colon2), fault.chunks) || fault.chunks < 1) {
            return std::nullopt;
        }
        if (colon2 != std::string_view::npos && !number(rest.substr(colon2 + 1), fault.delayMs)) {
            return std::nullopt;
        }
        return fault;
    }
    return std::nullopt;
}

Scanner::Scanner(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Scanner::~Scanner() {
    Stop();
}

std::unique_ptr<Scanner> Scanner::Start(ScannerOptions options, std::string* error) {
    auto impl = std::make_unique<Impl>(std::move(options));
    std::string message;
    if (!impl->DoPlug(message)) {
        if (error) {
            *error = message;
        }
        return nullptr;
    }
    Impl* raw = impl.get();
    std::unique_ptr<Scanner> scanner(new Scanner(std::move(impl)));
    std::promise<void> started;
    auto startedFuture = started.get_future();
    raw->thread = std::thread([raw, &started] {
        raw->serviceId = std::this_thread::get_id();
        started.set_value();
        raw->Serve();
    });
    startedFuture.wait();
    return scanner;
}

void Scanner::Stop() {
    {
        std::lock_guard lock(impl_->mu);
        if (impl_->stopping && !impl_->thread.joinable()) {
            return;
        }
        impl_->stopping = true;
    }
    impl_->stopCv.notify_all();
    impl_->wake.Signal();
    if (impl_->thread.joinable()) {
        impl_->thread.join();
    }
    // Requests queued after the thread's last look are answered "not done".
    std::deque<std::function<void()>> left;
    impl_->TakeRequests(left);
    for (auto& request : left) {
        request();
    }
    impl_->DoUnplug();
}

std::string Scanner::Folder() const {
    return impl_->Folder();
}
std::string Scanner::EntryName() const {
    return impl_->EntryName();
}

std::filesystem::path Scanner::LinkPath() const {
    return platform::RuntimeDir() / Folder() / EntryName();
}

bool Scanner::IsPlugged() const {
    std::lock_guard lock(impl_->mu);
    return impl_->plugged;
}

Identity Scanner::GetIdentity() const {
    std::lock_guard lock(impl_->mu);
    return impl_->state.identity;
}

void Scanner::SetIdentity(const Identity& identity) {
    std::lock_guard lock(impl_->mu);
    impl_->state.identity = identity;
}

bool Scanner::SendScan(std::string_view bytes) {
    {
        std::lock_guard lock(impl_->mu);
        impl_->state.lastScan = std::string(bytes);
    }
    return impl_->Write(bytes);
}

bool Scanner::SendScansFromFile(const std::filesystem::path& file, std::string_view suffix,
                                int gapMs) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!first && gapMs > 0 && !impl_->Pause(gapMs)) {
            return false;
        }
        first = false;
        if (!SendScan(line + std::string(suffix))) {
            return false;
        }
    }
    return true;
}

bool Scanner::Unplug() {
    return impl_->RunOnService([this] { return impl_->DoUnplug(); });
}

bool Scanner::Plug() {
    return impl_->RunOnService([this] {
        std::string error;
        return impl_->DoPlug(error);
    });
}

void Scanner::SetFault(const Fault& fault) {
    std::lock_guard lock(impl_->mu);
    impl_->fault = fault;
}

Fault Scanner::GetFault() const {
    std::lock_guard lock(impl_->mu);
    return impl_->fault;
}

std::vector<Received> Scanner::Log() const {
    std::lock_guard lock(impl_->mu);
    return impl_->log;
}

void Scanner::ClearLog() {
    std::lock_guard lock(impl_->mu);
    impl_->log.clear();
}

SettingsTable Scanner::GetSettings() const {
    std::lock_guard lock(impl_->mu);
    return impl_->state.settings;
}

void Scanner::SetSettings(const SettingsTable& settings) {
    std::lock_guard lock(impl_->mu);
    impl_->state.settings = settings;
}

std::optional<std::string> Scanner::SettingValue(std::string_view name) const {
    std::lock_guard lock(impl_->mu);
    const auto* setting = impl_->state.settings.Find(name);
    return setting ? std::optional(setting->value) : std::nullopt;
}

bool Scanner::SetSetting(std::string_view name, std::string_view value) {
    std::lock_guard lock(impl_->mu);
    return impl_->state.settings.Set(name, value);
}

void Scanner::SetImageSize(unsigned width, unsigned height) {
    std::lock_guard lock(impl_->mu);
    impl_->state.imageWidth = width;
    impl_->state.imageHeight = height;
}

void Scanner::SetImageAnswer(std::optional<ImageAnswer> answer) {
    std::lock_guard lock(impl_->mu);
    impl_->imageAnswer = std::move(answer);
}

unsigned Scanner::FirmwareUpdates() const {
    std::lock_guard lock(impl_->mu);
    return impl_->state.firmwareUpdates;
}

}  // namespace scansim
