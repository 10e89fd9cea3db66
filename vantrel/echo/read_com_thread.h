// The ReadCom thread: keeps one read pending on the port all the time, so
// that reads and the key loop's writes run at once. What it reads is only
// counted on the console.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "port/win_types.h"
#include "start_thread.h"

namespace vantrel::echo {

class ReadComWorker {
  public:
    // None when the thread cannot be started.
    static std::unique_ptr<ReadComWorker> Start(win::HANDLE port, uint32_t readSize);
    ~ReadComWorker();
    ReadComWorker(const ReadComWorker&) = delete;
    ReadComWorker& operator=(const ReadComWorker&) = delete;

    // Sets the quit flag and event and waits until the thread has ended.
    void Stop();

  private:
    ReadComWorker(win::HANDLE port, uint32_t readSize);
    static uint32_t ThreadMain(void* self);
    void Loop();
    int ReadOnce(uint8_t* buffer, win::HANDLE readEvent, win::DWORD& got);

    win::HANDLE port_;
    uint32_t readSize_;
    std::atomic<bool> quit_{false};
    win::HANDLE quitEvent_ = nullptr;
    std::optional<log::ThreadHandle> thread_;
};

// The console's key '#': starts the thread, or asks whether to stop it.
class ReadComKeys {
  public:
    void Key(win::HANDLE port, uint32_t readSize, const std::function<int()>& readKey);
    bool Running() const { return running_; }

  private:
    std::unique_ptr<ReadComWorker> worker_;
    bool running_ = false;
};

}  // namespace vantrel::echo
