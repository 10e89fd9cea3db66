// An echo server written from the wire format alone, on a raw descriptor:
// it records every chunk it receives and sends it back, after an optional
// change the test makes to provoke the client's checks.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "echo_test_support.h"

class RawEchoPeer {
  public:
    using Change = std::function<void(size_t index, std::vector<uint8_t>& chunk)>;

    explicit RawEchoPeer(int fd, Change change = nullptr) : fd_(fd), change_(std::move(change)) {
        thread_ = std::thread([this] { Serve(); });
    }
    ~RawEchoPeer() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    std::vector<std::vector<uint8_t>> Chunks() {
        std::lock_guard lock(mutex_);
        return chunks_;
    }

  private:
    void Serve() {
        while (!stop_) {
            std::vector<uint8_t> chunk(12);
            if (!ReadExactly(fd_, chunk.data(), 12, 3600, &stop_))
                return;
            const uint32_t length = Le32(chunk.data() + 4);
            chunk.resize(12 + length);
            if (!ReadExactly(fd_, chunk.data() + 12, length, 3600, &stop_))
                return;
            size_t index;
            {
                std::lock_guard lock(mutex_);
                index = chunks_.size();
                chunks_.push_back(chunk);
            }
            if (change_)
                change_(index, chunk);
            WriteAll(fd_, chunk.data(), chunk.size());
        }
    }

    int fd_;
    Change change_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::vector<uint8_t>> chunks_;
    std::thread thread_;
};
