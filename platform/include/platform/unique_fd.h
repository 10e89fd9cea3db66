// Owns one file descriptor and closes it when it goes, so no early return
// leaks a descriptor and no path closes one twice.
#pragma once

namespace platform {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor held (if any) and holds `fd` instead.
    void Reset(int fd = -1);

  private:
    int fd_ = -1;
};

}  // namespace platform
