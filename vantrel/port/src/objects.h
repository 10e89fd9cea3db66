// Kernel-object stand-ins shared by the layer's sources: the handle table, the
// one dispatcher lock under which every waitable state changes, events,
// threads and the per-thread queues of completion routines. A change wakes
// only the threads waiting on the state that changed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"

namespace win::detail {

// Sets the last error and answers the given failure value.
template <typename T>
T Fail(DWORD code, T result) {
    SetLastError(code);
    return result;
}

// A thread blocked in a wait of the layer. It sleeps on its own condition,
// or in poll on a device it serves itself while it waits, where its eventfd
// wakes it instead.
struct Waiter : std::enable_shared_from_this<Waiter> {
    std::condition_variable cv;
    bool polling = false;  // dispatcher lock held
    // Dispatcher lock held. On a thread that defers wake-ups the call waits
    // until FlushDeferredWakes, so the woken thread does not run straight
    // into the lock its waker still holds.
    void WakeLocked();
    // The eventfd that ends its poll (made on first use); -1 if none can be made.
    int PollWakeFd();
    // Ends its poll (no lock needed: the eventfd only counts).
    void Kick();

  private:
    platform::UniqueFd pollWakeFd_;
};

// While a thread waits it may serve, instead of sleeping, the port it last
// left a request pending on: it polls the device itself, so the bytes or the
// room it waits for wake it directly rather than the port's I/O thread,
// which would then have to wake it. Answers false when there is nothing of
// its own to serve (the caller sleeps as usual), true after one round (the
// caller looks at what it waits for again). Dispatcher lock held; let go
// while polling, at most until `deadline`.
bool ServeOwnPortWhileWaitingLocked(std::chrono::steady_clock::time_point deadline);

// The calling thread's waiter.
Waiter& ThisThreadWaiter();

// A device's I/O thread defers the wake-ups it causes while it holds the
// dispatcher lock, and gives them once it has let the lock go.
void DeferWakesOnThisThread();
void FlushDeferredWakes();

// The threads waiting on one state. All calls with the dispatcher lock held.
class WaiterList {
  public:
    void Add(Waiter* waiter) { waiters_.push_back(waiter); }
    void Remove(Waiter* waiter);
    void WakeAllLocked() const;

  private:
    std::vector<Waiter*> waiters_;
};

struct Object {
    WaiterList waiters;  // dispatcher lock held
    virtual ~Object() = default;
    virtual bool Waitable() const { return false; }
    // Both called with the dispatcher lock held.
    virtual bool Signaled() const { return false; }
    virtual void Acquire() {}
    // Called once when the last handle to the object is closed.
    virtual void OnClose() {}
};

std::mutex& DispatcherLock();

HANDLE InsertHandle(std::shared_ptr<Object> object);
std::shared_ptr<Object> LookupHandle(HANDLE handle);
std::shared_ptr<Object> RemoveHandle(HANDLE handle);

template <typename T>
std::shared_ptr<T> LookupAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

struct EventObject : Object {
    bool manualReset = true;
    bool signaled = false;
    bool Waitable() const override { return true; }
    bool Signaled() const override { return signaled; }
    void Acquire() override {
        if (!manualReset)
            signaled = false;
    }
};

// Sets an event; dispatcher lock held.
void SignalLocked(EventObject& event);

// Queues a completion routine call to a thread; dispatcher lock held.
void QueueApcLocked(std::thread::id thread, std::function<void()> call);
// Called by a thread that issues requests with completion routines: routines
// still queued when it ends are dropped with it.
void NoteApcThread();

}  // namespace win::detail
