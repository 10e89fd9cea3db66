// A null-modem link made of two pseudo terminals: what is written to one end
// is read at the other, moved by a relay thread per direction between the
// two masters. Both slave ends are raw and stay open in the fixture, so a
// port opened on one and closed again leaves no hang-up behind.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

class PtyLink {
  public:
    PtyLink() {
        OpenEnd(masterA_, slaveA_, pathA_);
        OpenEnd(masterB_, slaveB_, pathB_);
        relayAB_ = std::thread([this] { Relay(masterA_, masterB_); });
        relayBA_ = std::thread([this] { Relay(masterB_, masterA_); });
    }
    ~PtyLink() {
        stop_ = true;
        relayAB_.join();
        relayBA_.join();
        for (int fd : {masterA_, masterB_, slaveA_, slaveB_})
            close(fd);
    }
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    const std::string& PathA() const { return pathA_; }
    const std::string& PathB() const { return pathB_; }
    // The slave ends as plain descriptors, for peers that talk raw bytes.
    int RawA() const { return slaveA_; }
    int RawB() const { return slaveB_; }

  private:
    static void OpenEnd(int& master, int& slave, std::string& path) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error("no pseudo terminal");
        path = ptsname(master);
        slave = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (slave < 0)
            throw std::runtime_error("cannot open " + path);
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }

    void Relay(int from, int to) {
        char buffer[4096];
        while (!stop_) {
            pollfd in{from, POLLIN, 0};
            if (poll(&in, 1, 20) <= 0 || !(in.revents & POLLIN))
                continue;
            const ssize_t got = read(from, buffer, sizeof buffer);
            for (ssize_t done = 0; got > 0 && done < got && !stop_;) {
                const ssize_t put = write(to, buffer + done, static_cast<size_t>(got - done));
                if (put > 0) {
                    done += put;
                } else {
                    pollfd out{to, POLLOUT, 0};
                    poll(&out, 1, 20);
                }
            }
        }
    }

    int masterA_ = -1, masterB_ = -1, slaveA_ = -1, slaveB_ = -1;
    std::string pathA_, pathB_;
    std::atomic<bool> stop_{false};
    std::thread relayAB_, relayBA_;
};
