// The bus device and bus interface: handles over the daemon's control socket.
#pragma once

#include <filesystem>

#include "device.h"
#include "platform/unique_fd.h"

namespace win::detail {

struct ControlEndpoint : Device {
    platform::UniqueFd socket;
};

// A SOCK_SEQPACKET connection to the control socket, or -1 with errno.
int ConnectControlSocket(const std::filesystem::path& socketPath);

}  // namespace win::detail
