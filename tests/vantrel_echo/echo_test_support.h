// Helpers of the echo tests: scripted keys, ports
// opened through the port layer, and the wire format read independently of
// the code under test.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "echo_config.h"
#include "port/win_port.h"
#include "support/stdout_capture.h"

inline size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Keys typed by the test. `Press` makes a key visible to the console's
// "key waiting" test; `Answer` queues one that only a blocking read takes
// (as an answer to a question or a manual-intervention prompt).
class KeyScript {
  public:
    void Press(int key) {
        std::lock_guard lock(mutex_);
        keys_.push_back(key);
        visible_ = true;
        changed_.notify_all();
    }
    void Answer(int key) {
        std::lock_guard lock(mutex_);
        keys_.push_back(key);
        changed_.notify_all();
    }
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    vantrel::echo::ConsoleHooks Hooks() {
        vantrel::echo::ConsoleHooks hooks;
        hooks.keyWaiting = [this] {
            std::lock_guard lock(mutex_);
            return visible_ && !keys_.empty();
        };
        hooks.readKey = [this] {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !keys_.empty() || closed_; });
            if (keys_.empty())
                return -1;
            const int key = keys_.front();
            keys_.pop_front();
            if (keys_.empty())
                visible_ = false;
            return key;
        };
        return hooks;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<int> keys_;
    bool visible_ = false;
    bool closed_ = false;
};

inline win::HANDLE OpenPortPath(const std::string& path) {
    return win::CreateFile(path.c_str(), win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr,
                           win::OPEN_EXISTING, win::FILE_FLAG_OVERLAPPED, nullptr);
}

inline vantrel::echo::EchoConfig ConfigOf(uint32_t chunkMin, uint32_t chunkMax, int64_t maxBytes) {
    vantrel::echo::EchoConfig config;
    config.chunkMin = chunkMin;
    config.chunkMax = chunkMax;
    config.maxBytes = maxBytes;
    return config;
}

// The wire format as a peer sees it: three little-endian 32-bit fields.
inline uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Reads exactly `count` bytes from a raw descriptor, giving up after
// `seconds`; false when they did not come.
inline bool ReadExactly(int fd, uint8_t* out, size_t count, int seconds = 10,
                        const std::atomic<bool>* stop = nullptr) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    size_t done = 0;
    while (done < count && std::chrono::steady_clock::now() < end && !(stop && *stop)) {
        pollfd in{fd, POLLIN, 0};
        if (poll(&in, 1, 50) <= 0)
            continue;
        const ssize_t got = read(fd, out + done, count - done);
        if (got > 0)
            done += static_cast<size_t>(got);
    }
    return done == count;
}

inline bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t put = write(fd, bytes + done, count - done);
        if (put <= 0)
            return false;
        done += static_cast<size_t>(put);
    }
    return true;
}
