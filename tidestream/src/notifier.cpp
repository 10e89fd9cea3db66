#include "notifier.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/unique_fd.h"

namespace tidestream {

// State the reader thread owns together with the stream: the thread may
// outlive the stream when a callback closes or destroys its own stream.
struct Notifier::Shared {
    int fd = -1;
    platform::UniqueFd wakeFd;
    std::atomic<bool> stop{false};
    std::shared_ptr<std::atomic<bool>> gone;
    std::thread::id readerId;

    std::mutex slotMutex;  // guards the callback slots
    QVDS_STATUS_CALLBACK status = nullptr;
    QVDS_DATA_CALLBACK data = nullptr;
    void* user = nullptr;

    // Held by the reader while a callback runs, so that an unregister from
    // another thread waits for a running callback to return.
    std::mutex callMutex;
};

Notifier::Notifier(std::shared_ptr<std::atomic<bool>> gone) : gone_(std::move(gone)) {}

Notifier::~Notifier() {
    Stop();
}

void Notifier::Run(std::shared_ptr<Shared> shared) {
    unsigned char block[4096];
    while (!shared->stop.load()) {
        pollfd fds[2] = {{shared->fd, POLLIN, 0}, {shared->wakeFd.Get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (shared->stop.load() || (fds[1].revents & POLLIN) != 0) {
            return;
        }
        bool departed = (fds[0].revents & (POLLERR | POLLNVAL)) != 0;
        if (!departed && (fds[0].revents & (POLLIN | POLLHUP)) != 0) {
            const ssize_t n = ::read(shared->fd, block, sizeof block);
            if (n > 0) {
                std::lock_guard call(shared->callMutex);
                QVDS_DATA_CALLBACK data;
                void* user;
                {
                    std::lock_guard slots(shared->slotMutex);
                    data = shared->data;
                    user = shared->user;
                }
                if (data != nullptr && !shared->stop.load()) {
                    data(block, static_cast<int>(n), user);
                }
                continue;
            }
            // 0 (hang-up) or EIO: the device is gone; EAGAIN is a spurious wake.
            departed = n == 0 || (errno != EAGAIN && errno != EINTR);
        }
        if (departed) {
            shared->gone->store(true);
            std::lock_guard call(shared->callMutex);
            QVDS_STATUS_CALLBACK status;
            void* user;
            {
                std::lock_guard slots(shared->slotMutex);
                status = shared->status;
                user = shared->user;
            }
            if (status != nullptr && !shared->stop.load()) {
                status(QVDS_STATE_DISCONNECTED, user);
            }
            return;
        }
    }
}

bool Notifier::Register(int fd, QVDS_STATUS_CALLBACK status, QVDS_DATA_CALLBACK data, void* user) {
    if (status == nullptr && data == nullptr) {
        return false;
    }
    std::unique_lock control(controlMutex_);
    if (shared_ && shared_->fd != fd) {
        StopLocked(control);
    }
    if (!shared_) {
        auto shared = std::make_shared<Shared>();
        shared->fd = fd;
        shared->gone = gone_;
        shared->wakeFd.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!shared->wakeFd) {
            return false;
        }
        {
            std::lock_guard slots(shared->slotMutex);
            shared->status = status;
            shared->data = data;
            shared->user = user;
        }
        try {
            thread_ = std::thread(&Notifier::Run, shared);
        } catch (const std::system_error&) {
            return false;
        }
        shared->readerId = thread_.get_id();
        shared_ = std::move(shared);
        return true;
    }
    std::lock_guard slots(shared_->slotMutex);
    if (status != nullptr) {
        shared_->status = status;
    }
    if (data != nullptr) {
        shared_->data = data;
    }
    shared_->user = user;
    return true;
}

void Notifier::Unregister(bool status, bool data) {
    std::unique_lock control(controlMutex_);
    if (!shared_) {
        return;
    }
    bool empty;
    {
        std::lock_guard slots(shared_->slotMutex);
        if (status) {
            shared_->status = nullptr;
        }
        if (data) {
            shared_->data = nullptr;
        }
        empty = shared_->status == nullptr && shared_->data == nullptr;
    }
    if (empty) {
        StopLocked(control);
    } else if (std::this_thread::get_id() != shared_->readerId) {
        // Wait for a callback that is running right now to return.
        std::lock_guard call(shared_->callMutex);
    }
}

void Notifier::Registered(bool* status, bool* data) {
    std::lock_guard control(controlMutex_);
    if (!shared_) {
        *status = *data = false;
        return;
    }
    std::lock_guard slots(shared_->slotMutex);
    *status = shared_->status != nullptr;
    *data = shared_->data != nullptr;
}

void Notifier::Stop() {
    std::unique_lock control(controlMutex_);
    StopLocked(control);
}

void Notifier::StopLocked(std::unique_lock<std::mutex>& control) {
    if (!shared_) {
        return;
    }
    auto shared = std::move(shared_);
    auto thread = std::move(thread_);
    shared->stop = true;
    const uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(shared->wakeFd.Get(), &one, sizeof one);
    // Join without holding the control lock: a callback that is running may
    // itself call Unregister, which then finds nothing left to do.
    control.unlock();
    if (thread.joinable()) {
        if (thread.get_id() == std::this_thread::get_id()) {
            // Called from a callback: the reader sees stop as soon as the
            // callback returns and never touches the fd again.
            thread.detach();
        } else {
            thread.join();
        }
    }
    control.lock();
}

}  // namespace tidestream
