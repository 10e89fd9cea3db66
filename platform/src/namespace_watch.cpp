// Watch of namespace folders: inotify reports links created and removed; an
// eventfd wakes the watch thread when it is told to stop.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/runtime_namespace.h"
#include "platform/unique_fd.h"

namespace platform {

struct NamespaceWatch::Impl {
    // State shared with the thread; it outlives the watch object when the
    // watch is stopped or destroyed from inside its own handler.
    struct Shared {
        UniqueFd inotifyFd;
        UniqueFd wakeFd;
        std::map<int, std::string> folderByWatch;
        Handler handler;
        std::atomic<bool> stopping{false};
    };

    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
    std::thread thread;
    std::mutex stopMutex;
    bool running = false;
    Error error;  // why the watch did not start

    static void Run(std::shared_ptr<Shared> shared);
    static void Dispatch(Shared& shared, const inotify_event& event);
};

void NamespaceWatch::Impl::Dispatch(Shared& shared, const inotify_event& event) {
    if (event.len == 0) {
        return;
    }
    const std::string name(event.name);
    // Dot names are the temporary links used to replace an entry in one step.
    if (name.empty() || name[0] == '.') {
        return;
    }
    auto folder = shared.folderByWatch.find(event.wd);
    if (folder == shared.folderByWatch.end()) {
        return;
    }
    const bool arrived = (event.mask & (IN_CREATE | IN_MOVED_TO)) != 0;
    if (arrived) {
        // A link whose target is gone counts as absent, so it is no arrival.
        std::error_code error;
        if (!std::filesystem::exists(RuntimeDir() / folder->second / name, error)) {
            return;
        }
    }
    if (!shared.stopping.load()) {
        shared.handler(NamespaceEvent{folder->second, name, arrived});
    }
}

void NamespaceWatch::Impl::Run(std::shared_ptr<Shared> shared) {
    alignas(inotify_event) char buffer[8192];
    while (!shared->stopping.load()) {
        pollfd fds[2] = {{shared->inotifyFd.Get(), POLLIN, 0}, {shared->wakeFd.Get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        const ssize_t length = ::read(shared->inotifyFd.Get(), buffer, sizeof buffer);
        if (length <= 0) {
            if (length < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            return;
        }
        for (ssize_t offset = 0; offset < length && !shared->stopping.load();) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            Dispatch(*shared, *event);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

NamespaceWatch::NamespaceWatch(std::vector<std::string> folders, Handler handler)
    : impl_(std::make_unique<Impl>()) {
    auto& shared = *impl_->shared;
    shared.handler = std::move(handler);
    shared.inotifyFd.Reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (!shared.inotifyFd) {
        impl_->error = Error::FromErrno("inotify_init1");
        return;
    }
    shared.wakeFd.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!shared.wakeFd) {
        impl_->error = Error::FromErrno("eventfd");
        return;
    }
    for (const auto& folder : folders) {
        // The watch is set on the folder that was checked, through its
        // descriptor, so a folder swapped in after the check is not watched.
        const auto dir = OpenRuntimeFolder(folder, true);
        if (!dir) {
            const Error error = dir.GetError();
            impl_->error = error.message.empty() ? Error::FromCode(error.code, folder) : error;
            return;
        }
        const std::string checked = "/proc/self/fd/" + std::to_string(dir->Fd());
        const int wd =
            ::inotify_add_watch(shared.inotifyFd.Get(), checked.c_str(),
                                IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ONLYDIR);
        if (wd < 0) {
            impl_->error = Error::FromErrno("inotify_add_watch " + dir->Path().string());
            return;
        }
        shared.folderByWatch[wd] = folder;
    }
    try {
        impl_->thread = std::thread(&Impl::Run, impl_->shared);
        impl_->running = true;
    } catch (const std::system_error& failure) {
        impl_->running = false;
        impl_->error = Error::FromCode(failure.code().value(), "watch thread");
    }
}

NamespaceWatch::~NamespaceWatch() {
    Stop();
}

const Error& NamespaceWatch::StartError() const {
    return impl_->error;
}

bool NamespaceWatch::IsRunning() const {
    return impl_->running && !impl_->shared->stopping;
}

void NamespaceWatch::Stop() {
    std::lock_guard lock(impl_->stopMutex);
    impl_->shared->stopping = true;
    if (impl_->shared->wakeFd) {
        const uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(impl_->shared->wakeFd.Get(), &one, sizeof one);
    }
    if (impl_->thread.joinable()) {
        if (impl_->thread.get_id() == std::this_thread::get_id()) {
            // Called from the handler: the thread ends once the handler returns
            // and keeps the shared state alive until then.
            impl_->thread.detach();
        } else {
            impl_->thread.join();
        }
    }
    impl_->running = false;
}

}  // namespace platform
