// An open device handle: a serial port (tty, data pipe) served by its own I/O
// thread, or a control endpoint of the virtual bus daemon.
#pragma once

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "byte_queue.h"
#include "objects.h"
#include "platform/unique_fd.h"
#include "scanner_presence.h"

namespace win::detail {

using Clock = std::chrono::steady_clock;

// One overlapped request. The caller's buffer is only touched by whoever ends
// the request, under the dispatcher lock, so a request ended by CancelIo or
// CloseHandle never writes into the caller's memory afterwards.
struct Request {
    enum class Kind { Read, Write, CommEvent };
    Kind kind = Kind::Read;
    OVERLAPPED* overlapped = nullptr;
    std::shared_ptr<EventObject> event;  // kept alive even if its handle is closed
    std::thread::id issuer;
    LPOVERLAPPED_COMPLETION_ROUTINE completion = nullptr;
    void* userBuffer = nullptr;  // read target
    DWORD* eventMaskOut = nullptr;
    DWORD commEvents = 0;
    DWORD length = 0;
    std::vector<BYTE> data;  // read bytes gathered so far, or the bytes to write
    DWORD moved = 0;
    COMMTIMEOUTS timeouts{};  // as set when the request was issued
    bool started = false;
    Clock::time_point startTime{};
    Clock::time_point lastByteTime{};
    bool ended = false;
    DWORD error = 0;
    WaiterList waiters;  // threads waiting for this request to end
};

// Ends a request: copies what it gathered to the caller, fills the OVERLAPPED
// record, sets the event, queues the completion routine. Dispatcher lock held.
void EndRequestLocked(const std::shared_ptr<Request>& request, DWORD error);

// Waits (dispatcher lock held) until the request ends.
void WaitRequestLocked(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Request>& request);

struct Device : Object {
    enum class Kind { Serial, Bus, Interface };
    Kind kind = Kind::Serial;
    bool canRead = false;
    bool canWrite = false;
    bool overlappedMode = false;
};

struct SerialPort : Device, std::enable_shared_from_this<SerialPort> {
    // The device; OnClose closes it once the I/O thread has ended and no
    // device call is in flight.
    platform::UniqueFd fd;
    platform::UniqueFd wakeFd;
    bool isTty = false;
    std::string comName;  // "COM7" when known, for control requests
    // Set for a virtual port with a scanner behind it; read by the I/O thread.
    std::unique_ptr<ScannerPresence> presence;

    // All below guarded by the dispatcher lock.
    std::deque<std::shared_ptr<Request>> reads;
    std::deque<std::shared_ptr<Request>> writes;
    std::shared_ptr<Request> commWait;
    ByteQueue inQueue;
    size_t inCapacity = 4096;
    COMMTIMEOUTS timeouts{};
    DWORD eventMask = 0;
    DWORD eventHistory = 0;
    DWORD commErrors = 0;
    DWORD modemLines = 0;
    DCB storedDcb{};         // fields that termios cannot hold
    bool keepsFrame = true;  // false: the device ignores byte size and parity (pty)
    bool gone = false;
    // The scanner behind a kept virtual port is away: reads and writes end
    // with ERROR_DEVICE_NOT_CONNECTED until it returns.
    bool scannerAway = false;
    bool closing = false;
    std::thread ioThread;
    // The I/O thread sleeps in epoll on the wake-up eventfd, the device and
    // the scanner watch. The device's interest set follows what the port
    // needs (dispatcher lock held), changed by whichever thread changes that.
    platform::UniqueFd epollFd;
    bool deviceWatched = false;
    uint32_t deviceInterest = 0;
    // A thread that waits for its own head read or write polls the device
    // for it itself (ServeWhileWaitingLocked).
    Waiter* inputHelper = nullptr;
    Waiter* outputHelper = nullptr;
    // Device calls run with the dispatcher lock let go (a terminal read may
    // sleep until the tty's buffer work has run): one thread reads and one
    // writes at a time, and the descriptor is closed only once no thread is
    // in a call on it.
    bool readingDevice = false;
    bool writingDevice = false;
    int deviceCallsInFlight = 0;
    std::condition_variable deviceCallsDone;
    // A write found the device full; poll says when it has room again.
    bool deviceFull = false;
    // What the I/O thread's sleep covers (set before it lets the lock go), so
    // a caller wakes it only when that must change.
    bool ioWatchesInput = false;
    bool ioWatchesOutput = false;
    Clock::time_point ioDeadline{};

    ~SerialPort() override;
    void OnClose() override;
    void Start();
    void Wake();
    // Wakes the I/O thread only when its poll misses what the port needs now.
    void WakeIfNeededLocked();
    // The device work of one round: move bytes, end requests, note events.
    void ServiceLocked();
    // Waits until no other thread is inside a read of the device: the bytes
    // such a read takes join the input queue only when it returns, so a count
    // of the queue made before would miss them.
    void AwaitDeviceReadLocked(std::unique_lock<std::mutex>& lock);
    // When the next timer-driven change is due; the time point's max for none.
    Clock::time_point NextDeadlineLocked(Clock::time_point now) const;
    void EndAllLocked(DWORD error);
    void EndReadsAndWritesLocked(DWORD error);
    DWORD ReadModemLinesLocked() const;
    void RaiseLocked(DWORD events);
    // One round of serving the device on a thread that waits for its own
    // request; false when it has none pending here.
    bool ServeWhileWaitingLocked(Clock::time_point deadline);

  private:
    // Bytes nobody asks for yet may wait in the device itself: it holds them
    // as the queue would (ClearCommError and reads pull them in), so the I/O
    // thread is not woken for them. Receive events need them noted at once.
    bool WantsInputLocked() const {
        bool someoneWaits = !reads.empty() || (eventMask & (EV_RXCHAR | EV_RXFLAG)) != 0;
        return !gone && someoneWaits && inQueue.size() < inCapacity;
    }
    bool WantsOutputLocked() const { return !gone && !writes.empty(); }
    // Brings the device's interest set in line with what the port needs.
    void WatchDeviceLocked();
    void IoLoop();
    // Runs call(fd) with the dispatcher lock let go; errno as the call left it.
    template <typename Call>
    ssize_t CallDevice(Call call) {
        ++deviceCallsInFlight;
        const int device = fd.Get();
        DispatcherLock().unlock();
        FlushDeferredWakes();
        const ssize_t result = call(device);
        const int error = errno;
        DispatcherLock().lock();
        if (--deviceCallsInFlight == 0)
            deviceCallsDone.notify_all();
        errno = error;
        return result;
    }
    bool ReadIntoPendingLocked(Clock::time_point now);
    void DrainInputLocked();
    void NoteArrivedLocked(const BYTE* bytes, size_t count);
    void ServeReadsLocked(Clock::time_point now);
    void ServeWritesLocked(Clock::time_point now);
    bool PushOutLocked(Request& w);
    void ServeCommWaitLocked();
    void CheckModemLinesLocked();
    void HangUpLocked();
};

// Remembers the port on which the calling thread left a request pending, for
// ServeOwnPortWhileWaitingLocked.
void NoteOwnPendingRequestLocked(const std::shared_ptr<SerialPort>& port);

// Whether the head read may end now with what it holds.
bool ReadMayEnd(const COMMTIMEOUTS& t, const Request& r, Clock::time_point now);
// When the head read ends by time if no byte arrives, nullopt-like max when never.
Clock::time_point ReadDeadline(const COMMTIMEOUTS& t, const Request& r);

}  // namespace win::detail
