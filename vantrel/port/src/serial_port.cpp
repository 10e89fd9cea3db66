// The serial port's I/O thread: it owns the descriptor, keeps the input queue
// filled, serves reads and writes in order under the port's time-outs and
// notes comm events.
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "device.h"

namespace win::detail {

namespace {

std::unordered_map<OVERLAPPED*, std::shared_ptr<Request>>& PendingByOverlapped() {
    static auto* pending = new std::unordered_map<OVERLAPPED*, std::shared_ptr<Request>>;
    return *pending;
}

constexpr auto kNever = Clock::time_point::max();
constexpr int kModemPollMs = 50;
// What one read of a terminal gives at most (its line discipline's buffer).
constexpr size_t kDeviceBlock = 4096;

Clock::time_point After(Clock::time_point from, uint64_t ms) {
    // Very long totals (MAXDWORD multipliers) mean "never" in practice.
    if (ms > (uint64_t{1} << 40))
        return kNever;
    return from + std::chrono::milliseconds(ms);
}

bool ReturnsAtOnce(const COMMTIMEOUTS& t) {
    return t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
           t.ReadTotalTimeoutConstant == 0;
}

bool WaitsForFirstByte(const COMMTIMEOUTS& t) {
    return t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
           t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
}

uint64_t ReadTotalMs(const COMMTIMEOUTS& t, DWORD length) {
    return uint64_t{t.ReadTotalTimeoutMultiplier} * length + t.ReadTotalTimeoutConstant;
}

Clock::time_point WriteDeadline(const COMMTIMEOUTS& t, const Request& w) {
    uint64_t total =
        uint64_t{t.WriteTotalTimeoutMultiplier} * w.length + t.WriteTotalTimeoutConstant;
    return total == 0 ? kNever : After(w.startTime, total);
}

}  // namespace

bool ReadMayEnd(const COMMTIMEOUTS& t, const Request& r, Clock::time_point now) {
    if (r.moved == r.length || ReturnsAtOnce(t))
        return true;
    if (WaitsForFirstByte(t))
        return r.moved > 0 || now >= After(r.startTime, t.ReadTotalTimeoutConstant);
    return now >= ReadDeadline(t, r);
}

Clock::time_point ReadDeadline(const COMMTIMEOUTS& t, const Request& r) {
    if (WaitsForFirstByte(t))
        return After(r.startTime, t.ReadTotalTimeoutConstant);
    Clock::time_point deadline = kNever;
    uint64_t total = ReadTotalMs(t, r.length);
    if (total != 0)
        deadline = After(r.startTime, total);
    DWORD interval = t.ReadIntervalTimeout;
    if (interval != 0 && interval != MAXDWORD && r.moved > 0)
        deadline = std::min(deadline, After(r.lastByteTime, interval));
    return deadline;
}

void EndRequestLocked(const std::shared_ptr<Request>& request, DWORD error) {
    if (request->ended)
        return;
    request->ended = true;
    request->error = error;
    if (request->kind == Request::Kind::Read && request->moved > 0)
        std::memcpy(request->userBuffer, request->data.data(), request->moved);
    if (request->kind == Request::Kind::CommEvent && request->eventMaskOut != nullptr)
        *request->eventMaskOut = error == 0 ? request->commEvents : 0;
    if (OVERLAPPED* ov = request->overlapped) {
        ov->Internal = error;
        ov->InternalHigh = request->moved;
        auto& pending = PendingByOverlapped();
        auto it = pending.find(ov);
        if (it != pending.end() && it->second == request)
            pending.erase(it);
    }
    if (request->event)
        SignalLocked(*request->event);
    if (request->completion != nullptr) {
        auto routine = request->completion;
        DWORD moved = request->moved;
        OVERLAPPED* ov = request->overlapped;
        QueueApcLocked(request->issuer, [routine, error, moved, ov] { routine(error, moved, ov); });
    }
    request->waiters.WakeAllLocked();
}

void WaitRequestLocked(std::unique_lock<std::mutex>& lock,
                       const std::shared_ptr<Request>& request) {
    Waiter& me = ThisThreadWaiter();
    request->waiters.Add(&me);
    while (!request->ended) {
        if (!ServeOwnPortWhileWaitingLocked(Clock::time_point::max()))
            me.cv.wait(lock);
    }
    request->waiters.Remove(&me);
}

void RegisterPendingLocked(const std::shared_ptr<Request>& request) {
    if (request->overlapped != nullptr) {
        request->overlapped->Internal = STATUS_PENDING;
        request->overlapped->InternalHigh = 0;
        PendingByOverlapped()[request->overlapped] = request;
    }
}

std::shared_ptr<Request> FindPendingLocked(OVERLAPPED* overlapped) {
    auto& pending = PendingByOverlapped();
    auto it = pending.find(overlapped);
    return it == pending.end() ? nullptr : it->second;
}

SerialPort::~SerialPort() = default;

namespace {

enum : uint32_t { kWakeTag, kDeviceTag, kPresenceTag };

bool Watch(int epollFd, int fd, uint32_t events, uint32_t tag) {
    epoll_event entry{};
    entry.events = events;
    entry.data.u32 = tag;
    return ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &entry) == 0;
}

}  // namespace

void SerialPort::Start() {
    wakeFd.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    epollFd.Reset(::epoll_create1(EPOLL_CLOEXEC));
    Watch(epollFd.Get(), wakeFd.Get(), EPOLLIN, kWakeTag);
    if (presence)
        Watch(epollFd.Get(), presence->Fd(), EPOLLIN, kPresenceTag);
    // Terminals, pipes and sockets can be watched; a plain file or /dev/null
    // cannot (and is always ready).
    deviceWatched = Watch(epollFd.Get(), fd.Get(), 0, kDeviceTag);
    modemLines = ReadModemLinesLocked();
    ioThread = std::thread([this] { IoLoop(); });
}

void SerialPort::Wake() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd.Get(), &one, sizeof one);
}

void SerialPort::WatchDeviceLocked() {
    if (!deviceWatched || closing)
        return;
    if (gone) {
        ::epoll_ctl(epollFd.Get(), EPOLL_CTL_DEL, fd.Get(), nullptr);
        deviceWatched = false;
        return;
    }
    // What a waiting thread polls for itself, or another thread is reading
    // or writing just now, is left to that thread.
    uint32_t wanted = 0;
    if (WantsInputLocked() && !inputHelper && !readingDevice)
        wanted |= EPOLLIN;
    if (WantsOutputLocked() && !outputHelper && !writingDevice)
        wanted |= EPOLLOUT;
    if (wanted == deviceInterest)
        return;
    epoll_event entry{};
    entry.events = wanted;
    entry.data.u32 = kDeviceTag;
    if (::epoll_ctl(epollFd.Get(), EPOLL_CTL_MOD, fd.Get(), &entry) == 0)
        deviceInterest = wanted;
}

void SerialPort::WakeIfNeededLocked() {
    // What the device must be watched for changes the I/O thread's interest
    // set directly: a sleeping I/O thread hears of the bytes or the room
    // without being woken for the change itself.
    WatchDeviceLocked();
    bool missesDevice = !deviceWatched && ((WantsInputLocked() && !ioWatchesInput) ||
                                           (WantsOutputLocked() && !ioWatchesOutput));
    if (missesDevice || NextDeadlineLocked(Clock::now()) < ioDeadline)
        Wake();
}

void SerialPort::OnClose() {
    {
        std::lock_guard guard(DispatcherLock());
        closing = true;
        EndAllLocked(ERROR_OPERATION_ABORTED);
        // A thread serving the device while it waits for something else
        // must let the descriptor go too.
        for (Waiter* helper : {inputHelper, outputHelper}) {
            if (helper != nullptr)
                helper->Kick();
        }
    }
    Wake();
    if (ioThread.joinable())
        ioThread.join();
    {
        // A thread inside a device call has the descriptor still in use.
        std::unique_lock lock(DispatcherLock());
        deviceCallsDone.wait(lock, [&] { return deviceCallsInFlight == 0; });
    }
    fd.Reset();
}

void SerialPort::EndAllLocked(DWORD error) {
    EndReadsAndWritesLocked(error);
    if (commWait)
        EndRequestLocked(commWait, error);
    commWait.reset();
}

void SerialPort::EndReadsAndWritesLocked(DWORD error) {
    for (auto& r : reads)
        EndRequestLocked(r, error);
    for (auto& w : writes)
        EndRequestLocked(w, error);
    reads.clear();
    writes.clear();
}

void SerialPort::RaiseLocked(DWORD events) {
    eventHistory |= events & eventMask;
}

DWORD SerialPort::ReadModemLinesLocked() const {
    if (gone)
        return 0;
    int bits = 0;
    if (isTty && ::ioctl(fd.Get(), TIOCMGET, &bits) == 0) {
        DWORD lines = 0;
        if (bits & TIOCM_CTS)
            lines |= MS_CTS_ON;
        if (bits & TIOCM_DSR)
            lines |= MS_DSR_ON;
        if (bits & TIOCM_RNG)
            lines |= MS_RING_ON;
        if (bits & TIOCM_CAR)
            lines |= MS_RLSD_ON;
        return lines;
    }
    // A pseudo terminal has no modem lines: its peer being there counts as
    // clear-to-send, data-set-ready and carrier.
    return MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
}

void SerialPort::CheckModemLinesLocked() {
    DWORD lines = ReadModemLinesLocked();
    DWORD changed = lines ^ modemLines;
    modemLines = lines;
    DWORD events = 0;
    if (changed & MS_CTS_ON)
        events |= EV_CTS;
    if (changed & MS_DSR_ON)
        events |= EV_DSR;
    if (changed & MS_RLSD_ON)
        events |= EV_RLSD;
    if ((changed & MS_RING_ON) && !(lines & MS_RING_ON))
        events |= EV_RING;
    RaiseLocked(events);
}

void SerialPort::HangUpLocked() {
    gone = true;
    CheckModemLinesLocked();  // lines drop: the wait hears of it first
}

void SerialPort::DrainInputLocked() {
    if (readingDevice)
        return;  // the thread that reads now brings them in
    readingDevice = true;
    BYTE chunk[kDeviceBlock];
    while (!gone && !closing && inQueue.size() < inCapacity) {
        size_t room = std::min(sizeof chunk, inCapacity - inQueue.size());
        ssize_t n = CallDevice([&](int device) { return ::read(device, chunk, room); });
        if (closing)
            break;
        if (n > 0) {
            inQueue.Append(chunk, static_cast<size_t>(n));
            NoteArrivedLocked(chunk, static_cast<size_t>(n));
            // A short read emptied the device; asking again would only hear
            // EAGAIN, and each read of a terminal is costly.
            if (static_cast<size_t>(n) < room)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        HangUpLocked();  // 0 (hang-up EOF) or EIO: the device is gone
    }
    readingDevice = false;
}

// Bytes that arrive while a read is pending and nothing older waits go
// straight into that read, without the round through the input queue and
// without its size as a limit: a large read fills in few system calls.
// Returns false once the device has been found empty.
bool SerialPort::ReadIntoPendingLocked(Clock::time_point now) {
    if (readingDevice)
        return false;  // the thread that reads now serves the head read
    readingDevice = true;
    bool mayHaveMore = true;
    while (!gone && !closing && !reads.empty() && inQueue.empty()) {
        std::shared_ptr<Request> r = reads.front();
        if (!r->started) {
            r->started = true;
            r->startTime = now;
        }
        // A small read (a header, say) takes a whole block into the queue
        // instead: what follows it is then served without another read.
        if (r->moved == r->length || r->length - r->moved < kDeviceBlock)
            break;  // ServeReadsLocked ends it or fills it from the queue
        const DWORD at = r->moved;
        BYTE* into = r->data.data() + at;
        ssize_t n = CallDevice([&](int device) { return ::read(device, into, r->length - at); });
        if (closing)
            break;
        if (n > 0 && r->ended) {
            // Ended meanwhile (cancelled, or by its time-out): nothing was
            // read behind these bytes, so they lead the queue.
            inQueue.Append(into, static_cast<size_t>(n));
            NoteArrivedLocked(into, static_cast<size_t>(n));
            continue;
        }
        if (n > 0) {
            NoteArrivedLocked(into, static_cast<size_t>(n));
            r->moved += static_cast<DWORD>(n);
            r->lastByteTime = now;
            if (r->moved < r->length) {
                mayHaveMore = false;  // the device had no more for now
                break;
            }
            EndRequestLocked(r, ERROR_SUCCESS);
            reads.pop_front();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        mayHaveMore = false;
        if (!(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)))
            HangUpLocked();
        break;
    }
    readingDevice = false;
    return mayHaveMore;
}

void SerialPort::NoteArrivedLocked(const BYTE* bytes, size_t count) {
    DWORD events = EV_RXCHAR;
    if (std::memchr(bytes, storedDcb.EvtChar, count) != nullptr)
        events |= EV_RXFLAG;
    RaiseLocked(events);
}

void SerialPort::ServeReadsLocked(Clock::time_point now) {
    while (!reads.empty()) {
        auto& r = *reads.front();
        if (!r.started) {
            r.started = true;
            r.startTime = now;
        }
        size_t take = std::min<size_t>(inQueue.size(), r.length - r.moved);
        if (take > 0) {
            inQueue.TakeFront(r.data.data() + r.moved, take);
            r.moved += static_cast<DWORD>(take);
            r.lastByteTime = now;
        }
        if (!ReadMayEnd(r.timeouts, r, now))
            break;
        EndRequestLocked(reads.front(), ERROR_SUCCESS);
        reads.pop_front();
    }
}

// Writes what the device takes of the head write; false once it hung up.
bool SerialPort::PushOutLocked(Request& w) {
    while (w.moved < w.length && !w.ended && !closing && !deviceFull) {
        const DWORD at = w.moved;
        const DWORD left = w.length - at;
        const BYTE* from = w.data.data() + at;
        ssize_t n = CallDevice([&](int device) { return ::write(device, from, left); });
        if (n > 0) {
            w.moved += static_cast<DWORD>(n);
            // Short means full: poll says when there is room again.
            deviceFull = static_cast<DWORD>(n) < left && deviceWatched;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A device epoll cannot watch is tried again by the I/O thread.
            deviceFull = deviceWatched;
            return true;
        }
        if (!closing)
            HangUpLocked();
        return false;
    }
    return true;
}

void SerialPort::ServeWritesLocked(Clock::time_point now) {
    if (writingDevice)
        return;  // the thread that writes now goes on with the next
    writingDevice = true;
    // Bytes for a scanner that is away would be dropped by the daemon.
    while (!writes.empty() && !gone && !scannerAway && !closing) {
        std::shared_ptr<Request> w = writes.front();
        if (!w->started) {
            w->started = true;
            w->startTime = now;
        }
        // A full device could only answer EAGAIN until poll reports room.
        if (!deviceFull && !PushOutLocked(*w))
            break;
        if (closing)
            break;
        if (w->ended)
            continue;  // cancelled meanwhile: it has left the queue
        // A write that runs out of time ends successfully with what went out.
        if (w->moved < w->length && now < WriteDeadline(w->timeouts, *w))
            break;
        EndRequestLocked(w, ERROR_SUCCESS);
        writes.pop_front();
        if (writes.empty())
            RaiseLocked(EV_TXEMPTY);
    }
    writingDevice = false;
}

void SerialPort::ServeCommWaitLocked() {
    if (!commWait)
        return;
    DWORD happened = eventHistory & eventMask;
    if (happened != 0) {
        commWait->commEvents = happened;
        eventHistory &= ~happened;
        EndRequestLocked(commWait, ERROR_SUCCESS);
        commWait.reset();
    }
}

void SerialPort::AwaitDeviceReadLocked(std::unique_lock<std::mutex>& lock) {
    // Reads of the device do not block, so this is short; the time limit only
    // covers a wake-up that went to a call of another kind.
    while (readingDevice && !closing)
        deviceCallsDone.wait_for(lock, std::chrono::milliseconds(5));
}

void SerialPort::ServiceLocked() {
    if (closing)
        return;
    auto now = Clock::now();
    if (!gone && ReadIntoPendingLocked(now))
        DrainInputLocked();
    ServeReadsLocked(now);
    ServeWritesLocked(now);
    if (commWait && !gone)
        CheckModemLinesLocked();
    ServeCommWaitLocked();
    WatchDeviceLocked();  // a direction left to a reading or writing thread comes back
    if (gone)
        EndAllLocked(ERROR_DEVICE_NOT_CONNECTED);
    // What the scanner sent before it went is still read; a request that
    // wants more would wait for a device that is not there.
    else if (scannerAway)
        EndReadsAndWritesLocked(ERROR_DEVICE_NOT_CONNECTED);
}

Clock::time_point SerialPort::NextDeadlineLocked(Clock::time_point now) const {
    Clock::time_point next = kNever;
    if (!reads.empty() && reads.front()->started)
        next = std::min(next, ReadDeadline(reads.front()->timeouts, *reads.front()));
    if (!writes.empty() && writes.front()->started)
        next = std::min(next, WriteDeadline(writes.front()->timeouts, *writes.front()));
    bool watchLines = commWait && (eventMask & (EV_CTS | EV_DSR | EV_RLSD | EV_RING)) && isTty;
    if (watchLines)
        next = std::min(next, now + std::chrono::milliseconds(kModemPollMs));
    return next;
}

namespace {

int PollTimeoutMs(Clock::time_point deadline, Clock::time_point now) {
    if (deadline == kNever)
        return -1;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 1 << 30));
}

}  // namespace

namespace {
// The port on which the thread last left a request pending.
thread_local std::weak_ptr<SerialPort> t_ownPort;
}  // namespace

void NoteOwnPendingRequestLocked(const std::shared_ptr<SerialPort>& port) {
    t_ownPort = port;
}

bool ServeOwnPortWhileWaitingLocked(Clock::time_point deadline) {
    auto port = t_ownPort.lock();
    return port && port->ServeWhileWaitingLocked(deadline);
}

bool SerialPort::ServeWhileWaitingLocked(Clock::time_point deadline) {
    if (closing || gone || !deviceWatched)
        return false;
    const auto me = std::this_thread::get_id();
    // Only the head request moves; bytes already queued need no device, and
    // a direction another thread is reading or writing just now is its own.
    const bool forInput = !inputHelper && !readingDevice && !reads.empty() &&
                          reads.front()->issuer == me && inQueue.empty() && !scannerAway;
    const bool forOutput = !outputHelper && !writingDevice && !writes.empty() &&
                           writes.front()->issuer == me && !scannerAway;
    Waiter& waiter = ThisThreadWaiter();
    const int wakeFd = waiter.PollWakeFd();
    if ((!forInput && !forOutput) || wakeFd < 0)
        return false;
    if (forInput)
        inputHelper = &waiter;
    if (forOutput)
        outputHelper = &waiter;
    WatchDeviceLocked();  // the I/O thread leaves this to the waiter now
    waiter.polling = true;
    pollfd fds[2] = {{fd.Get(), 0, 0}, {wakeFd, POLLIN, 0}};
    if (forInput)
        fds[0].events |= POLLIN;
    if (forOutput)
        fds[0].events |= POLLOUT;
    const int timeout = PollTimeoutMs(deadline, Clock::now());
    CallDevice([&](int) { return static_cast<ssize_t>(::poll(fds, 2, timeout)); });
    if (fds[1].revents & POLLIN) {
        uint64_t wakes;
        [[maybe_unused]] ssize_t n = ::read(wakeFd, &wakes, sizeof wakes);
    }
    waiter.polling = false;
    if (fds[0].revents & POLLOUT)
        deviceFull = false;
    if (forInput)
        inputHelper = nullptr;
    if (forOutput)
        outputHelper = nullptr;
    if (closing)
        return true;
    if (!gone && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
        DrainInputLocked();
        if (!gone)
            HangUpLocked();
    }
    ServiceLocked();
    WakeIfNeededLocked();  // hands the device back to the I/O thread's watch
    return true;
}

// The I/O thread sleeps at most this long, so a far deadline (a write that
// may take days) needs no wake-up when it is set.
constexpr auto kLongestSleep = std::chrono::minutes(10);

void SerialPort::IoLoop() {
    DeferWakesOnThisThread();
    std::unique_lock lock(DispatcherLock());
    while (!closing) {
        ServiceLocked();
        if (closing)
            break;
        WatchDeviceLocked();
        ioWatchesInput = WantsInputLocked();
        ioWatchesOutput = WantsOutputLocked();
        auto now = Clock::now();
        ioDeadline = std::min(NextDeadlineLocked(now), now + kLongestSleep);
        // A device that cannot be watched is always ready: serve it again at once.
        bool readyAnyway = !deviceWatched && !gone && (ioWatchesInput || ioWatchesOutput);
        int timeout = readyAnyway ? 0 : PollTimeoutMs(ioDeadline, now);
        lock.unlock();
        FlushDeferredWakes();
        epoll_event events[3];
        int count = ::epoll_wait(epollFd.Get(), events, 3, timeout);
        bool presenceChanged = false;
        bool deviceFailed = false;
        bool hasRoom = false;
        for (int i = 0; i < count; ++i) {
            if (events[i].data.u32 == kWakeTag) {
                uint64_t wakes;
                [[maybe_unused]] ssize_t n = ::read(wakeFd.Get(), &wakes, sizeof wakes);
            }
            presenceChanged |= events[i].data.u32 == kPresenceTag;
            const bool device = events[i].data.u32 == kDeviceTag;
            deviceFailed |= device && (events[i].events & (EPOLLHUP | EPOLLERR)) != 0;
            hasRoom |= device && (events[i].events & EPOLLOUT) != 0;
        }
        bool away = presenceChanged && !presence->Refresh();
        lock.lock();
        if (presenceChanged)
            scannerAway = away;
        if (hasRoom)
            deviceFull = false;
        if (!closing && !gone && deviceFailed) {
            DrainInputLocked();
            if (!gone)
                HangUpLocked();
        }
    }
    lock.unlock();
    FlushDeferredWakes();
}

}  // namespace win::detail
