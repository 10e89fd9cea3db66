#include "ovrix/daemon.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "control_requests.h"
#include "control_socket.h"
#include "driver/ovrix_wire.h"
#include "platform/ascii_case.h"
#include "platform/com_name.h"
#include "platform/runtime_namespace.h"
#include "publish.h"
#include "tty.h"
#include "virtual_port.h"

namespace ovrix {

using namespace detail;

namespace {

uint64_t NowEpochMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

std::string InstanceText(unsigned number) {
    char text[16];
    std::snprintf(text, sizeof text, "%04u", number);
    return text;
}

// What one pollfd entry stands for. The *Room entries wait for a destination
// to take bytes a flow holds back.
enum class Source {
    Wake,
    Listen,
    Client,
    Datapipe,
    DatapipeRoom,
    PortMaster,
    OutboundRoom,
    UsbEndpoint,
    InboundRoom
};
bool IsRoomEntry(Source source) {
    return source == Source::DatapipeRoom || source == Source::OutboundRoom ||
           source == Source::InboundRoom;
}

struct Watched {
    Source source;
    VirtualPort* port = nullptr;
};

// While bytes wait, a pty whose room was missed is retried this often.
constexpr int kRoomRetryMs = 50;
constexpr int kIdlePollMs = 1000;
// A failing accept (no descriptors left, no memory) is not tried again at
// once: the pause doubles from the first to the longest while it keeps failing.
constexpr int kFirstAcceptPauseMs = 50;
constexpr int kLongestAcceptPauseMs = 1000;

using Clock = std::chrono::steady_clock;

}  // namespace

struct Daemon::Impl final : Bus {
    DaemonOptions options;
    mutable std::mutex mutex;
    std::vector<std::unique_ptr<VirtualPort>> ports;
    unsigned nextInstance = 1;
    platform::UniqueFd listenFd;
    uid_t owner = ::geteuid();
    std::vector<std::unique_ptr<ControlClient>> clients;
    int acceptPauseMs = 0;  // 0 while accept works
    Clock::time_point acceptResumes;
    Pty datapipe;
    Flow datapipeFlow;  // the data pipe's bytes on their way back
    platform::UniqueFd wake[2];
    std::deque<platform::NamespaceEvent> events;  // guarded by mutex
    std::unique_ptr<platform::NamespaceWatch> watch;
    std::thread loop;
    std::atomic<bool> stopping{false};
    bool started = false;

    // --- Bus -----------------------------------------------------------
    VirtualPort* FindByInstance(std::string_view instance) override {
        for (auto& port : ports)
            if (port->instance == instance)
                return port.get();
        return nullptr;
    }
    VirtualPort* FindByComName(std::string_view comName) override {
        for (auto& port : ports)
            if (platform::EqualNoCase(comName, platform::FormatComName(port->comNumber)))
                return port.get();
        return nullptr;
    }
    void UnplugAll() override {
        RemovePortsIf([](const VirtualPort& port) { return !port.usbName.empty(); });
    }
    void Reinstall() override {
        UnplugAll();
        for (const std::string& name : platform::ListEntries(platform::kUsbFolder).ValueOr({}))
            UsbArrived(name);
    }
    bool IsAdministrator(uid_t uid) const override { return options.isAdministrator(uid); }
    bool MayChangeState(uid_t uid) const override { return uid == 0 || uid == owner; }

    // --- ports ---------------------------------------------------------
    VirtualPort* FindByUsb(const std::string& usbName) {
        for (auto& port : ports)
            if (port->usbName == usbName)
                return port.get();
        return nullptr;
    }

    bool ComTaken(unsigned number) {
        for (auto& port : ports)
            if (port->comNumber == number)
                return true;
        return ComLinkLive(number);
    }

    unsigned FreeComNumber() {
        unsigned number = std::max(options.comBase, 1u);
        while (ComTaken(number))
            ++number;
        return number;
    }

    VirtualPort* MakePort(unsigned comNumber, const std::string& usbName) {
        auto port = std::make_unique<VirtualPort>();
        if (!OpenPty(&port->pty))
            return nullptr;
        port->instance = InstanceText(nextInstance++);
        port->comNumber = comNumber;
        port->usbName = usbName;
        port->lifemode = usbName.empty() ? Lifemode::Persistent : options.lifemode;
        if (!PublishPort(port->instance, comNumber, port->pty.slavePath,
                         usbName.empty() ? std::string() : port->UsbDevinstpath())) {
            UnpublishPort(port->instance, comNumber, port->pty.slavePath);
            ClosePty(&port->pty);
            return nullptr;
        }
        ports.push_back(std::move(port));
        return ports.back().get();
    }

    void RemovePort(VirtualPort* doomed) {
        RemovePortsIf([doomed](const VirtualPort& port) { return &port == doomed; });
    }

    template <typename Pred>
    void RemovePortsIf(Pred pred) {
        for (auto& port : ports) {
            if (!pred(*port))
                continue;
            UnpublishPort(port->instance, port->comNumber, port->pty.slavePath);
            port->usbFd.Reset();
            ClosePty(&port->pty);
            if (port->peer != nullptr) {
                port->peer->outbound.Clear();
                port->peer->peer = nullptr;
            }
        }
        std::erase_if(ports, [&](const std::unique_ptr<VirtualPort>& port) { return pred(*port); });
    }

    void UsbArrived(const std::string& name) {
        auto node = platform::ResolveUsbDevicePath(platform::UsbDevicePathFromName(name));
        if (!node)
            return;
        VirtualPort* port = FindByUsb(name);
        if (port != nullptr && port->UsbOnline())
            return;
        platform::UniqueFd fd = OpenEndpoint(node->string());
        if (!fd) {
            std::fprintf(stderr, "ovrixd: cannot open USB endpoint %s\n", node->c_str());
            return;
        }
        if (port == nullptr)
            port = MakePort(FreeComNumber(), name);
        if (port == nullptr) {
            std::fprintf(stderr, "ovrixd: cannot make a virtual port for %s\n", name.c_str());
            return;
        }
        port->usbFd = std::move(fd);
        port->lastOnlineMs = NowEpochMs();
        PublishUsbOnline(port->instance, true);
    }

    // The USB device behind the port went away: a Temporal port (or one with
    // the one-time temporal switch on) goes with it, the others wait for it.
    void UsbGone(VirtualPort* port) {
        port->usbFd.Reset();
        port->outbound.Clear();  // a device that is not there cannot take them
        port->lastOfflineMs = NowEpochMs();
        if (port->lifemode == Lifemode::Temporal || port->oneTimeTemporal)
            RemovePort(port);
        else
            PublishUsbOnline(port->instance, false);
    }

    void HandleNamespaceEvent(const platform::NamespaceEvent& event) {
        if (event.folder != platform::kUsbFolder)
            return;
        if (event.arrived) {
            UsbArrived(event.name);
            return;
        }
        VirtualPort* port = FindByUsb(event.name);
        if (port != nullptr && port->UsbOnline())
            UsbGone(port);
    }

    // --- the loop ------------------------------------------------------
    void Wake() {
        char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(wake[1].Get(), &byte, 1);
    }

    // Fills the poll set; returns the poll timeout. A flow holding bytes back
    // has its source left unread (events 0 still reports a hang-up) and its
    // destination watched for room instead.
    int Collect(std::vector<pollfd>* fds, std::vector<Watched>* what) {
        bool waiting = false;
        auto add = [&](int fd, short events, Source source, VirtualPort* port = nullptr) {
            fds->push_back(pollfd{fd, events, 0});
            what->push_back(Watched{source, port});
        };
        auto addFlow = [&](const Flow& flow, int from, Source input, int to, Source room,
                           VirtualPort* port) {
            add(from, flow.Waiting() ? 0 : POLLIN, input, port);
            if (flow.Waiting() && to >= 0) {
                add(to, POLLOUT, room, port);
                waiting = true;
            }
        };
        add(wake[0].Get(), POLLIN, Source::Wake);
        int timeoutMs = kIdlePollMs;
        if (acceptPauseMs == 0 || Clock::now() >= acceptResumes) {
            add(listenFd.Get(), POLLIN, Source::Listen);
        } else {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(acceptResumes - Clock::now());
            timeoutMs = static_cast<int>(std::clamp<int64_t>(left.count(), 1, kIdlePollMs));
        }
        for (auto& client : clients)
            add(client->fd(), client->HasQueued() ? POLLIN | POLLOUT : POLLIN, Source::Client);
        addFlow(datapipeFlow, datapipe.master.Get(), Source::Datapipe, datapipe.master.Get(),
                Source::DatapipeRoom, nullptr);
        for (auto& port : ports) {
            addFlow(port->outbound, port->pty.master.Get(), Source::PortMaster,
                    port->OutboundDestination(), Source::OutboundRoom, port.get());
            if (port->UsbOnline())
                add(port->usbFd.Get(), port->inbound.Waiting() ? 0 : POLLIN, Source::UsbEndpoint,
                    port.get());
            if (port->inbound.Waiting()) {
                add(port->pty.master.Get(), POLLOUT, Source::InboundRoom, port.get());
                waiting = true;
            }
        }
        return waiting ? std::min(kRoomRetryMs, timeoutMs) : timeoutMs;
    }

    bool Live(const VirtualPort* port) const {
        for (auto& live : ports)
            if (live.get() == port)
                return true;
        return false;
    }

    bool StillServed(const VirtualPort* port, int fd) const {
        return Live(port) && (fd == port->pty.master.Get() || fd == port->usbFd.Get());
    }

    ControlClient* FindClient(int fd) {
        for (auto& client : clients)
            if (client->fd() == fd)
                return client.get();
        return nullptr;
    }

    void DropClient(ControlClient* doomed) {
        std::erase_if(clients, [doomed](const std::unique_ptr<ControlClient>& client) {
            return client.get() == doomed;
        });
    }

    void AcceptOne() {
        AcceptResult accepted = AcceptClient(listenFd.Get());
        if (accepted.fd >= 0) {
            clients.push_back(std::make_unique<ControlClient>(accepted.fd, accepted.uid));
            acceptPauseMs = 0;
            return;
        }
        if (accepted.error == 0)
            return;
        // The connection stays in the backlog; taking it is tried again after
        // the pause, instead of at once and forever while the cause lasts.
        bool first = acceptPauseMs == 0;
        acceptPauseMs =
            first ? kFirstAcceptPauseMs : std::min(2 * acceptPauseMs, kLongestAcceptPauseMs);
        acceptResumes = Clock::now() + std::chrono::milliseconds(acceptPauseMs);
        if (first)
            std::fprintf(stderr,
                         "ovrixd: cannot take a control client: %s; trying again in at most "
                         "%d ms\n",
                         std::strerror(accepted.error), kLongestAcceptPauseMs);
    }

    // One request per client and wake-up, so a busy client cannot starve
    // the others; its answers go out as its socket takes them.
    void ServeClient(ControlClient* client, short revents) {
        if ((revents & POLLOUT) != 0 && !client->Flush()) {
            DropClient(client);
            return;
        }
        if ((revents & (POLLIN | POLLHUP | POLLERR)) == 0)
            return;
        std::vector<uint8_t> message;
        switch (client->ReceiveMessage(&message)) {
            case ControlClient::Receive::Nothing:
                return;
            case ControlClient::Receive::Gone:
                DropClient(client);
                return;
            case ControlClient::Receive::Message:
                break;
        }
        auto sent = client->SendMessage(
            AnswerRequest(message.data(), message.size(), client->uid(), *this));
        if (sent == ControlClient::Send::QueueFull) {
            std::fprintf(stderr,
                         "ovrixd: dropped control client (uid %u): it let %zu answers pile up "
                         "unread\n",
                         static_cast<unsigned>(client->uid()), client->Queued());
            DropClient(client);
        } else if (sent == ControlClient::Send::Gone) {
            DropClient(client);
        }
    }

    // The outbound destination refused for good: a scanner that failed is
    // gone; a pair end cannot fail while the bus holds it.
    void OutboundFailed(VirtualPort* port) {
        port->outbound.Clear();
        if (port->peer == nullptr)
            UsbGone(port);
    }

    void FromPort(VirtualPort* port) {
        int to = port->OutboundDestination();
        // Bytes written to a port while its scanner is away are dropped,
        // as a device that is not there cannot take them.
        if (to < 0) {
            Flow::Discard(port->pty.master.Get());
            return;
        }
        if (port->outbound.Pump(port->pty.master.Get(), to) == Flow::Result::DestinationFailed)
            OutboundFailed(port);
    }

    void OutboundRoom(VirtualPort* port) {
        int to = port->OutboundDestination();
        if (to < 0)
            port->outbound.Clear();
        else if (port->outbound.Flush(to) == Flow::Result::DestinationFailed)
            OutboundFailed(port);
    }

    void FromUsb(VirtualPort* port, short revents) {
        bool hungUp = (revents & (POLLHUP | POLLERR)) != 0;
        if (port->inbound.Waiting()) {
            if (hungUp)
                UsbGone(port);  // the bytes already read still reach the port
            return;
        }
        Flow::Result result = port->inbound.Pump(port->usbFd.Get(), port->pty.master.Get());
        if (result == Flow::Result::SourceEnded || (result == Flow::Result::Idle && hungUp))
            UsbGone(port);
    }

    void InboundRoom(VirtualPort* port) {
        if (port->inbound.Flush(port->pty.master.Get()) == Flow::Result::DestinationFailed)
            port->inbound.Clear();
    }

    // The data pipe hands every byte written to it back to its reader.
    void FromDatapipe() {
        if (!datapipeFlow.Waiting())
            datapipeFlow.Pump(datapipe.master.Get(), datapipe.master.Get());
    }

    void DatapipeRoom() {
        if (datapipeFlow.Flush(datapipe.master.Get()) == Flow::Result::DestinationFailed)
            datapipeFlow.Clear();
    }

    void Dispatch(const pollfd& fd, const Watched& what) {
        switch (what.source) {
            case Source::Wake: {
                char drain[64];
                [[maybe_unused]] ssize_t n = ::read(wake[0].Get(), drain, sizeof drain);
                while (!events.empty()) {
                    platform::NamespaceEvent event = std::move(events.front());
                    events.pop_front();
                    HandleNamespaceEvent(event);
                }
                break;
            }
            case Source::Listen:
                AcceptOne();
                break;
            case Source::Client:
                if (ControlClient* client = FindClient(fd.fd))
                    ServeClient(client, fd.revents);
                break;
            case Source::Datapipe:
                FromDatapipe();
                break;
            case Source::DatapipeRoom:
                DatapipeRoom();
                break;
            case Source::PortMaster:
                if (StillServed(what.port, fd.fd) && !what.port->outbound.Waiting())
                    FromPort(what.port);
                break;
            case Source::OutboundRoom:
                if (Live(what.port) && what.port->outbound.Waiting())
                    OutboundRoom(what.port);
                break;
            case Source::UsbEndpoint:
                if (StillServed(what.port, fd.fd))
                    FromUsb(what.port, fd.revents);
                break;
            case Source::InboundRoom:
                if (Live(what.port) && what.port->inbound.Waiting())
                    InboundRoom(what.port);
                break;
        }
    }

    void Run() {
        std::vector<pollfd> fds;
        std::vector<Watched> what;
        while (!stopping) {
            fds.clear();
            what.clear();
            int timeoutMs;
            {
                std::lock_guard lock(mutex);
                timeoutMs = Collect(&fds, &what);
            }
            if (::poll(fds.data(), fds.size(), timeoutMs) < 0)
                continue;
            std::lock_guard lock(mutex);
            for (size_t i = 0; i < fds.size(); ++i)
                if (fds[i].revents != 0 || IsRoomEntry(what[i].source))
                    Dispatch(fds[i], what[i]);
        }
    }

    // --- start and stop ------------------------------------------------
    bool StartPairs(std::string* error) {
        for (const PortPair& pair : options.pairs) {
            if (pair.first == pair.second || ComTaken(pair.first) || ComTaken(pair.second)) {
                *error = "COM" + std::to_string(pair.first) + ":COM" + std::to_string(pair.second) +
                         " cannot be linked: a port is in use";
                return false;
            }
            VirtualPort* first = MakePort(pair.first, {});
            VirtualPort* second = first ? MakePort(pair.second, {}) : nullptr;
            if (second == nullptr) {
                *error = "cannot make the linked pair COM" + std::to_string(pair.first);
                return false;
            }
            first->peer = second;
            second->peer = first;
        }
        return true;
    }

    bool Start(std::string* error) {
        if (!PrepareNamespace(error))
            return false;
        listenFd = ListenControl(VbusDir() / kControlSocketName, error);
        if (!listenFd)
            return false;
        // No other bus serves this namespace, so port values and links still
        // there were left by one that died; readers must not find ports that
        // are gone, nor COM links to ttys that others get next.
        RemoveStaleEntries();
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
            *error = "cannot set up the data pipe";
            return false;
        }
        wake[0].Reset(pipeFds[0]);
        wake[1].Reset(pipeFds[1]);
        if (!OpenPty(&datapipe) ||
            !platform::AddEntry(platform::kVbusFolder, "datapipe", datapipe.slavePath)) {
            *error = "cannot set up the data pipe";
            return false;
        }
        std::lock_guard lock(mutex);
        if (!StartPairs(error))
            return false;
        watch = std::make_unique<platform::NamespaceWatch>(
            std::vector<std::string>{std::string(platform::kUsbFolder)},
            [this](const platform::NamespaceEvent& event) {
                std::lock_guard lock(mutex);
                events.push_back(event);
                Wake();
            });
        if (!watch->IsRunning()) {
            *error = "cannot watch the usb folder of the runtime namespace";
            return false;
        }
        for (const std::string& name : platform::ListEntries(platform::kUsbFolder).ValueOr({}))
            UsbArrived(name);
        loop = std::thread([this] { Run(); });
        return true;
    }

    void Stop() {
        stopping = true;
        if (loop.joinable()) {
            Wake();
            loop.join();
        }
        if (watch)
            watch->Stop();
        watch.reset();
        std::lock_guard lock(mutex);
        RemovePortsIf([](const VirtualPort&) { return true; });
        clients.clear();
        if (listenFd)
            ::unlink((VbusDir() / kControlSocketName).c_str());
        listenFd.Reset();
        std::error_code ec;
        if (!datapipe.slavePath.empty() &&
            std::filesystem::read_symlink(VbusDir() / "datapipe", ec) == datapipe.slavePath)
            platform::RemoveEntry(platform::kVbusFolder, "datapipe");
        ClosePty(&datapipe);
        wake[0].Reset();
        wake[1].Reset();
    }
};

namespace {

PortInfo Describe(const VirtualPort& port) {
    PortInfo info;
    info.instance = port.instance;
    info.comNumber = port.comNumber;
    info.ttyPath = port.pty.slavePath;
    info.usbName = port.usbName;
    info.lifemode = port.lifemode;
    info.usbOnline = port.UsbOnline();
    info.oneTimeTemporal = port.oneTimeTemporal;
    return info;
}

}  // namespace

Daemon::Daemon(DaemonOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
}

Daemon::~Daemon() {
    Stop();
}

bool Daemon::Start(std::string* error) {
    std::string ignored;
    if (error == nullptr)
        error = &ignored;
    if (impl_->started) {
        *error = "already started";
        return false;
    }
    impl_->started = true;
    if (impl_->Start(error))
        return true;
    impl_->Stop();
    return false;
}

void Daemon::Stop() {
    if (impl_->started)
        impl_->Stop();
    impl_->started = false;
}

std::vector<PortInfo> Daemon::Ports() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<PortInfo> result;
    for (auto& port : impl_->ports)
        result.push_back(Describe(*port));
    return result;
}

std::optional<PortInfo> Daemon::PortForUsb(const std::string& usbName) const {
    std::lock_guard lock(impl_->mutex);
    for (auto& port : impl_->ports)
        if (port->usbName == usbName)
            return Describe(*port);
    return std::nullopt;
}

}  // namespace ovrix
