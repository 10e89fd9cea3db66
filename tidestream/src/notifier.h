// The reader thread of one stream: hands each received block to the data
// callback and reports the device's departure to the status callback.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "ferrolink/tidestream/tidestream.h"

namespace tidestream {

class Notifier {
  public:
    explicit Notifier(std::shared_ptr<std::atomic<bool>> gone);
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    // Sets the callbacks (a null one leaves that slot as it was) and starts
    // the reader on fd if it is not running. False when nothing is given or
    // the thread cannot start.
    bool Register(int fd, QVDS_STATUS_CALLBACK status, QVDS_DATA_CALLBACK data, void* user);
    // Removes the flagged callbacks; with none left the reader ends. After the
    // return no removed callback runs (unless called from a callback itself).
    void Unregister(bool status, bool data);
    void Registered(bool* status, bool* data);
    // Ends the reader; its fd must stay open until this returns.
    void Stop();

  private:
    struct Shared;
    void StopLocked(std::unique_lock<std::mutex>& lock);
    static void Run(std::shared_ptr<Shared> shared);

    std::shared_ptr<std::atomic<bool>> gone_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    std::mutex controlMutex_;  // one Register/Unregister/Stop at a time
};

}  // namespace tidestream
