// The serial port's I/O thread: it owns the descriptor, keeps the input queue
// filled, serves reads and writes in order under the port's time-outs and
// notes comm events.
#include <fcntl.h>
#include <poll.h>
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
    me.cv.wait(lock, [&] { return request->ended; });
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

SerialPort::~SerialPort() {
    if (fd >= 0)
        ::close(fd);
    if (wakeFd >= 0)
        ::close(wakeFd);
}

void SerialPort::Start() {
    wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    modemLines = ReadModemLinesLocked();
    ioThread = std::thread([this] { IoLoop(); });
}

void SerialPort::Wake() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
}

void SerialPort::WakeIfNeededLocked() {
    bool missesInput = WantsInputLocked() && !ioWatchesInput;
    bool missesOutput = WantsOutputLocked() && !ioWatchesOutput;
    if (missesInput || missesOutput || NextDeadlineLocked(Clock::now()) < ioDeadline)
        Wake();
}

void SerialPort::OnClose() {
    {
        std::lock_guard guard(DispatcherLock());
        closing = true;
        EndAllLocked(ERROR_OPERATION_ABORTED);
    }
    Wake();
    if (ioThread.joinable())
        ioThread.join();
    ::close(fd);
    fd = -1;
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
    if (isTty && ::ioctl(fd, TIOCMGET, &bits) == 0) {
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
    BYTE chunk[4096];
    while (!gone && inQueue.size() < inCapacity) {
        size_t room = std::min(sizeof chunk, inCapacity - inQueue.size());
        ssize_t n = ::read(fd, chunk, room);
        if (n > 0) {
            inQueue.Append(chunk, static_cast<size_t>(n));
            NoteArrivedLocked(chunk, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        HangUpLocked();  // 0 (hang-up EOF) or EIO: the device is gone
    }
}

// Bytes that arrive while a read is pending and nothing older waits go
// straight into that read, without the round through the input queue and
// without its size as a limit: a large read fills in few system calls.
void SerialPort::ReadIntoPendingLocked(Clock::time_point now) {
    while (!gone && !reads.empty() && inQueue.empty()) {
        auto& r = *reads.front();
        if (!r.started) {
            r.started = true;
            r.startTime = now;
        }
        if (r.moved == r.length)
            return;  // ServeReadsLocked ends it
        ssize_t n = ::read(fd, r.data.data() + r.moved, r.length - r.moved);
        if (n > 0) {
            NoteArrivedLocked(r.data.data() + r.moved, static_cast<size_t>(n));
            r.moved += static_cast<DWORD>(n);
            r.lastByteTime = now;
            if (r.moved < r.length)
                return;  // the device had no more for now
            EndRequestLocked(reads.front(), ERROR_SUCCESS);
            reads.pop_front();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        HangUpLocked();
    }
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

void SerialPort::ServeWritesLocked(Clock::time_point now) {
    // Bytes for a scanner that is away would be dropped by the daemon.
    while (!writes.empty() && !gone && !scannerAway) {
        auto& w = *writes.front();
        if (!w.started) {
            w.started = true;
            w.startTime = now;
        }
        while (w.moved < w.length) {
            ssize_t n = ::write(fd, w.data.data() + w.moved, w.length - w.moved);
            if (n > 0) {
                w.moved += static_cast<DWORD>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            HangUpLocked();
            return;
        }
        // A write that runs out of time ends successfully with what went out.
        if (w.moved < w.length && now < WriteDeadline(w.timeouts, w))
            break;
        EndRequestLocked(writes.front(), ERROR_SUCCESS);
        writes.pop_front();
        if (writes.empty())
            RaiseLocked(EV_TXEMPTY);
    }
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

void SerialPort::ServiceLocked() {
    if (closing)
        return;
    auto now = Clock::now();
    if (!gone) {
        ReadIntoPendingLocked(now);
        DrainInputLocked();
    }
    ServeReadsLocked(now);
    ServeWritesLocked(now);
    if (commWait && !gone)
        CheckModemLinesLocked();
    ServeCommWaitLocked();
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

void SerialPort::IoLoop() {
    DeferWakesOnThisThread();
    std::unique_lock lock(DispatcherLock());
    while (!closing) {
        ServiceLocked();
        if (closing)
            break;
        pollfd fds[3] = {{wakeFd, POLLIN, 0},
                         {gone ? -1 : fd, 0, 0},
                         {presence ? presence->Fd() : -1, POLLIN, 0}};
        ioWatchesInput = WantsInputLocked();
        ioWatchesOutput = WantsOutputLocked();
        if (ioWatchesInput)
            fds[1].events |= POLLIN;
        if (ioWatchesOutput)
            fds[1].events |= POLLOUT;
        auto now = Clock::now();
        ioDeadline = NextDeadlineLocked(now);
        int timeout = PollTimeoutMs(ioDeadline, now);
        lock.unlock();
        FlushDeferredWakes();
        ::poll(fds, 3, timeout);
        uint64_t count;
        while (::read(wakeFd, &count, sizeof count) > 0) {
        }
        bool presenceChanged = (fds[2].revents & POLLIN) != 0;
        bool away = presenceChanged && !presence->Refresh();
        lock.lock();
        if (presenceChanged)
            scannerAway = away;
        if (!closing && !gone && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            DrainInputLocked();
            if (!gone)
                HangUpLocked();
        }
    }
    lock.unlock();
    FlushDeferredWakes();
}

}  // namespace win::detail
