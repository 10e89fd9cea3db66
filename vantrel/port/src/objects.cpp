// Handle table, events, threads, waits and alertable sleeps.
#include "objects.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <unordered_map>
#include <vector>

namespace win {

namespace {
thread_local DWORD t_lastError = 0;
}

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD code) {
    t_lastError = code;
}

namespace detail {

namespace {

using Clock = std::chrono::steady_clock;

struct HandleTable {
    std::mutex lock;
    // Values grow by 4 like Windows handles and are never reused, so a stale
    // or doubly closed handle is refused instead of reaching a new object.
    uintptr_t next = 0x40;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;
    return *table;
}

std::unordered_map<std::thread::id, std::deque<std::function<void()>>>& ApcQueues() {
    static auto* queues =
        new std::unordered_map<std::thread::id, std::deque<std::function<void()>>>;
    return *queues;
}

// Takes the calling thread's queued completion routines; dispatcher lock held.
std::deque<std::function<void()>> TakeApcsLocked() {
    auto& queues = ApcQueues();
    auto it = queues.find(std::this_thread::get_id());
    if (it == queues.end())
        return {};
    auto calls = std::move(it->second);
    queues.erase(it);
    return calls;
}

bool HasApcLocked() {
    return ApcQueues().count(std::this_thread::get_id()) != 0;
}

// Threads in an alertable wait, to be woken when a routine is queued to them.
std::unordered_map<std::thread::id, Waiter*>& AlertableWaiters() {
    static auto* waiters = new std::unordered_map<std::thread::id, Waiter*>;
    return *waiters;
}

// Puts the calling thread on the waiter lists of what it waits for, and takes
// it off again; both with the dispatcher lock held.
class WaitRegistration {
  public:
    WaitRegistration(const std::vector<std::shared_ptr<Object>>& objects, bool alertable)
        : objects_(objects), alertable_(alertable), waiter_(&ThisThreadWaiter()) {
        for (auto& object : objects_)
            object->waiters.Add(waiter_);
        if (alertable_)
            AlertableWaiters()[std::this_thread::get_id()] = waiter_;
    }
    ~WaitRegistration() { Release(); }
    WaitRegistration(const WaitRegistration&) = delete;
    WaitRegistration& operator=(const WaitRegistration&) = delete;

    // Called before the lock is let go for good.
    void Release() {
        if (waiter_ == nullptr)
            return;
        for (auto& object : objects_)
            object->waiters.Remove(waiter_);
        if (alertable_)
            AlertableWaiters().erase(std::this_thread::get_id());
        waiter_ = nullptr;
    }
    std::condition_variable& cv() { return ThisThreadWaiter().cv; }

  private:
    const std::vector<std::shared_ptr<Object>>& objects_;
    bool alertable_;
    Waiter* waiter_;
};

DWORD RunApcs(std::unique_lock<std::mutex>& lock) {
    auto calls = TakeApcsLocked();
    lock.unlock();
    for (auto& call : calls)
        call();
    return WAIT_IO_COMPLETION;
}

// One round of a wait: serves the thread's own port if it has one pending,
// else sleeps on the thread's condition. True once the deadline has passed.
bool SleepOrServeLocked(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                        DWORD milliseconds, Clock::time_point deadline) {
    const auto until = milliseconds == INFINITE ? Clock::time_point::max() : deadline;
    if (ServeOwnPortWhileWaitingLocked(until))
        return milliseconds != INFINITE && Clock::now() >= deadline;
    if (milliseconds == INFINITE) {
        cv.wait(lock);
        return false;
    }
    return cv.wait_until(lock, deadline) == std::cv_status::timeout && Clock::now() >= deadline;
}

struct ThreadObject : Object {
    bool finished = false;
    DWORD exitCode = 0;
    bool Waitable() const override { return true; }
    bool Signaled() const override { return finished; }
};

}  // namespace

std::mutex& DispatcherLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

Waiter& ThisThreadWaiter() {
    thread_local auto waiter = std::make_shared<Waiter>();
    return *waiter;
}

namespace {
struct DeferredWake {
    std::shared_ptr<Waiter> waiter;  // kept alive until flushed, even if its thread ends
    bool polling;                    // how it waited when the wake was due
};
thread_local bool t_defersWakes = false;
thread_local std::vector<DeferredWake> t_deferredWakes;
}  // namespace

int Waiter::PollWakeFd() {
    if (!pollWakeFd_)
        pollWakeFd_.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    return pollWakeFd_.Get();
}

void Waiter::Kick() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(pollWakeFd_.Get(), &one, sizeof one);
}

void Waiter::WakeLocked() {
    if (t_defersWakes)
        t_deferredWakes.push_back({shared_from_this(), polling});
    else if (polling)
        Kick();
    else
        cv.notify_one();
}

void DeferWakesOnThisThread() {
    t_defersWakes = true;
}

void FlushDeferredWakes() {
    // A waiter that changed its way of waiting since looked at its state
    // under the lock first, so the wake it would miss was not needed.
    for (auto& wake : t_deferredWakes) {
        if (wake.polling)
            wake.waiter->Kick();
        else
            wake.waiter->cv.notify_one();
    }
    t_deferredWakes.clear();
}

void WaiterList::Remove(Waiter* waiter) {
    auto it = std::find(waiters_.begin(), waiters_.end(), waiter);
    if (it != waiters_.end())
        waiters_.erase(it);
}

void WaiterList::WakeAllLocked() const {
    for (Waiter* waiter : waiters_)
        waiter->WakeLocked();
}

HANDLE InsertHandle(std::shared_ptr<Object> object) {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> LookupHandle(HANDLE handle) {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == table.objects.end() ? nullptr : it->second;
}

std::shared_ptr<Object> RemoveHandle(HANDLE handle) {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end())
        return nullptr;
    auto object = std::move(it->second);
    table.objects.erase(it);
    return object;
}

void SignalLocked(EventObject& event) {
    event.signaled = true;
    event.waiters.WakeAllLocked();
}

void QueueApcLocked(std::thread::id thread, std::function<void()> call) {
    ApcQueues()[thread].push_back(std::move(call));
    auto& alertable = AlertableWaiters();
    if (auto it = alertable.find(thread); it != alertable.end())
        it->second->WakeLocked();
}

namespace {
struct ApcQueueOwner {
    ~ApcQueueOwner() {
        std::lock_guard guard(DispatcherLock());
        ApcQueues().erase(std::this_thread::get_id());
    }
};
}  // namespace

void NoteApcThread() {
    thread_local ApcQueueOwner owner;
    (void)owner;
}

}  // namespace detail

using namespace detail;

HANDLE CreateEvent(void*, BOOL manualReset, BOOL initialState, const char*) {
    auto event = std::make_shared<EventObject>();
    event->manualReset = manualReset != FALSE;
    event->signaled = initialState != FALSE;
    return InsertHandle(std::move(event));
}

BOOL SetEvent(HANDLE handle) {
    auto event = LookupAs<EventObject>(handle);
    if (!event)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    std::lock_guard guard(DispatcherLock());
    SignalLocked(*event);
    return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
    auto event = LookupAs<EventObject>(handle);
    if (!event)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    std::lock_guard guard(DispatcherLock());
    event->signaled = false;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    auto object = RemoveHandle(handle);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    object->OnClose();
    return TRUE;
}

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE start, void* parameter, DWORD,
                    DWORD* threadId) {
    if (start == nullptr)
        return Fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    auto thread = std::make_shared<ThreadObject>();
    static std::atomic<DWORD> nextId{1000};
    if (threadId != nullptr)
        *threadId = nextId++;
    try {
        std::thread([thread, start, parameter] {
            DWORD code = start(parameter);
            std::lock_guard guard(DispatcherLock());
            thread->exitCode = code;
            thread->finished = true;
            thread->waiters.WakeAllLocked();
        }).detach();
    } catch (const std::system_error&) {
        return Fail<HANDLE>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    }
    return InsertHandle(std::move(thread));
}

BOOL GetExitCodeThread(HANDLE handle, DWORD* exitCode) {
    auto thread = LookupAs<ThreadObject>(handle);
    if (!thread || exitCode == nullptr)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    std::lock_guard guard(DispatcherLock());
    *exitCode = thread->finished ? thread->exitCode : 259;  // STILL_ACTIVE
    return TRUE;
}

DWORD WaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                               BOOL alertable) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
    std::vector<std::shared_ptr<Object>> objects;
    for (DWORD i = 0; i < count; ++i) {
        auto object = LookupHandle(handles[i]);
        if (!object || !object->Waitable())
            return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
        objects.push_back(std::move(object));
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock lock(DispatcherLock());
    WaitRegistration registration(objects, alertable != FALSE);
    for (;;) {
        if (waitAll) {
            bool all = true;
            for (auto& object : objects)
                all = all && object->Signaled();
            if (all) {
                for (auto& object : objects)
                    object->Acquire();
                return WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < count; ++i) {
                if (objects[i]->Signaled()) {
                    objects[i]->Acquire();
                    return WAIT_OBJECT_0 + i;
                }
            }
        }
        if (alertable && HasApcLocked()) {
            registration.Release();
            return RunApcs(lock);
        }
        if (SleepOrServeLocked(lock, registration.cv(), milliseconds, deadline)) {
            // One last look: a state may have changed right at the deadline.
            for (DWORD i = 0; i < count && !waitAll; ++i) {
                if (objects[i]->Signaled()) {
                    objects[i]->Acquire();
                    return WAIT_OBJECT_0 + i;
                }
            }
            return WAIT_TIMEOUT;
        }
    }
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    return WaitForMultipleObjectsEx(count, handles, waitAll, milliseconds, FALSE);
}

DWORD WaitForSingleObjectEx(HANDLE handle, DWORD milliseconds, BOOL alertable) {
    return WaitForMultipleObjectsEx(1, &handle, FALSE, milliseconds, alertable);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForMultipleObjectsEx(1, &handle, FALSE, milliseconds, FALSE);
}

DWORD SleepEx(DWORD milliseconds, BOOL alertable) {
    if (!alertable) {
        Sleep(milliseconds);
        return 0;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock lock(DispatcherLock());
    const std::vector<std::shared_ptr<Object>> nothing;
    WaitRegistration registration(nothing, true);
    for (;;) {
        if (HasApcLocked()) {
            registration.Release();
            return RunApcs(lock);
        }
        if (SleepOrServeLocked(lock, registration.cv(), milliseconds, deadline)) {
            registration.Release();
            return HasApcLocked() ? RunApcs(lock) : 0;
        }
    }
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace win
