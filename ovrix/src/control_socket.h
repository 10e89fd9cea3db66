// The control socket: one SOCK_SEQPACKET message per request and per answer.
// Client sockets are non-blocking; answers a client does not take yet wait in
// a bounded queue of its own.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace ovrix::detail {

// Binds and listens at the path, replacing a stale socket file but not one a
// running daemon still serves. An empty owner with a message on failure.
platform::UniqueFd ListenControl(const std::filesystem::path& path, std::string* error);

struct AcceptResult {
    int fd = -1;    // the new client, non-blocking; -1 when none
    int error = 0;  // errno of a failed accept that is worth backing off for
    uid_t uid = 0;  // the client's user, from the socket
};
AcceptResult AcceptClient(int listenFd);

// One connected client and the answers it has not taken yet.
class ControlClient {
  public:
    enum class Receive { Message, Nothing, Gone };
    enum class Send { Done, Queued, QueueFull, Gone };

    static constexpr size_t kMaxQueuedAnswers = 64;

    ControlClient(int fd, uid_t uid) : fd_(fd), uid_(uid) {}
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    int fd() const { return fd_.Get(); }
    uid_t uid() const { return uid_; }
    bool HasQueued() const { return !queue_.empty(); }
    size_t Queued() const { return queue_.size(); }

    // Takes one request message without waiting.
    Receive ReceiveMessage(std::vector<uint8_t>* message);
    // Sends an answer now or queues it behind those waiting; QueueFull when
    // the client let kMaxQueuedAnswers pile up (the answer is not kept).
    Send SendMessage(std::vector<uint8_t> message);
    // Sends queued answers while the socket takes them; false when the
    // client has gone.
    bool Flush();

  private:
    platform::UniqueFd fd_;
    uid_t uid_;
    std::deque<std::vector<uint8_t>> queue_;
};

}  // namespace ovrix::detail
