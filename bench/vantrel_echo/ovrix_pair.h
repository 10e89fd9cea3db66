// ovrixd's linked pair COM20:COM21 in a runtime namespace of its own, served
// by the bus in this process. Programs started meanwhile find the same
// namespace (the environment names it). The raw ends are the ports' ttys
// opened as plain descriptors, for peers that talk raw bytes.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "ovrix/daemon.h"
#include "platform/runtime_namespace.h"

class OvrixPair {
  public:
    OvrixPair() {
        char pattern[] = "/tmp/echo-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            throw std::runtime_error("no temporary runtime namespace");
        dir_ = pattern;
        ::setenv("KTR_RUNTIME_DIR", dir_.c_str(), 1);
        ovrix::DaemonOptions options;
        options.pairs.push_back({20, 21});
        daemon_ = std::make_unique<ovrix::Daemon>(options);
        std::string error;
        if (!daemon_->Start(&error))
            throw std::runtime_error("ovrixd: " + error);
        rawA_ = OpenRaw(20);
        rawB_ = OpenRaw(21);
    }
    ~OvrixPair() {
        ::close(rawA_);
        ::close(rawB_);
        daemon_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        ::unsetenv("KTR_RUNTIME_DIR");
    }
    OvrixPair(const OvrixPair&) = delete;
    OvrixPair& operator=(const OvrixPair&) = delete;

    // The names a console opens the ends by.
    std::string PathA() const { return "\\\\.\\COM20"; }
    std::string PathB() const { return "\\\\.\\COM21"; }
    int RawA() const { return rawA_; }
    int RawB() const { return rawB_; }

  private:
    static int OpenRaw(unsigned comNumber) {
        auto tty = platform::ResolveComPort(comNumber);
        int fd = tty ? ::open(tty->c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
        if (fd < 0)
            throw std::runtime_error("cannot open COM" + std::to_string(comNumber));
        termios raw{};
        ::tcgetattr(fd, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
        return fd;
    }

    std::filesystem::path dir_;
    std::unique_ptr<ovrix::Daemon> daemon_;
    int rawA_ = -1;
    int rawB_ = -1;
};
