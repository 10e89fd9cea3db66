// The control socket: one SOCK_SEQPACKET message per request and per answer.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace ovrix::detail {

// Binds and listens at the path, replacing a stale socket file but not one a
// running daemon still serves. -1 with a message on failure.
int ListenControl(const std::filesystem::path& path, std::string* error);
int AcceptClient(int listenFd);
// Receives one message; false when the client has gone.
bool ReceiveMessage(int fd, std::vector<uint8_t>* message, uid_t* caller);
void SendMessage(int fd, const std::vector<uint8_t>& message);

}  // namespace ovrix::detail
