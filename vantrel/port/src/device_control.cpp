// DeviceIoControl: each request becomes one message to the virtual bus daemon
// and its answer one message back (layouts in driver/ovrix_wire.h).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "control_endpoint.h"
#include "driver/ovrix_wire.h"
#include "platform/runtime_namespace.h"
#include "platform/unique_fd.h"

namespace win {

using namespace detail;

namespace detail {

int ConnectControlSocket(const std::filesystem::path& socketPath) {
    platform::UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd)
        return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int error = errno;
        fd.Reset();
        errno = error;
        return -1;
    }
    // Requests end within the call; a daemon that stops answering must not
    // hang the caller for ever.
    timeval limit{10, 0};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    return fd.Release();
}

}  // namespace detail

namespace {

// Sends one request and receives its answer; false with a Windows error.
bool Exchange(int fd, const std::vector<BYTE>& request, std::vector<BYTE>* reply, DWORD* error) {
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        *error = (errno == EAGAIN) ? ERROR_SEM_TIMEOUT : ERROR_DEVICE_NOT_CONNECTED;
        return false;
    }
    reply->resize(sizeof(ovrix::ReplyHeader) + ovrix::kMaxPayload);
    ssize_t n = ::recv(fd, reply->data(), reply->size(), 0);
    if (n < 0 && errno == EAGAIN) {
        *error = ERROR_SEM_TIMEOUT;
        return false;
    }
    if (n < static_cast<ssize_t>(sizeof(ovrix::ReplyHeader))) {
        *error = ERROR_DEVICE_NOT_CONNECTED;  // daemon went away
        return false;
    }
    reply->resize(static_cast<size_t>(n));
    return true;
}

void PutPortName(const std::string& name, char16_t (&out)[32]) {
    size_t i = 0;
    for (; i < name.size() && i + 1 < 32; ++i)
        out[i] = static_cast<char16_t>(name[i]);
    out[i] = u'\0';
}

}  // namespace

namespace {

BOOL ControlRequest(HANDLE handle, DWORD code, const void* in, DWORD inSize, void* out,
                    DWORD outSize, DWORD* bytesReturned) {
    auto device = LookupAs<Device>(handle);
    if (!device)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (bytesReturned != nullptr)
        *bytesReturned = 0;
    // The I/O manager checks the access a control code needs against the handle.
    DWORD needs = (code >> 14) & 3;
    if (((needs & FILE_READ_ACCESS) && !device->canRead) ||
        ((needs & FILE_WRITE_ACCESS) && !device->canWrite))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (inSize > ovrix::kMaxPayload || (inSize > 0 && in == nullptr) ||
        (outSize > 0 && out == nullptr))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);

    ovrix::RequestHeader header{};
    header.magic = ovrix::kWireMagic;
    header.controlCode = code;
    header.openedForWrite = device->canWrite ? 1 : 0;
    header.inputLength = inSize;
    header.outputCapacity = outSize;

    int fd = -1;
    platform::UniqueFd ownFd;  // a port's own connection, for this call
    if (auto control = std::dynamic_pointer_cast<ControlEndpoint>(device)) {
        header.target = static_cast<uint32_t>(
            control->kind == Device::Kind::Bus ? ovrix::Target::Bus : ovrix::Target::Interface);
        fd = control->socket.Get();
    } else {
        auto port = std::dynamic_pointer_cast<SerialPort>(device);
        // A port the daemon does not serve knows none of its control codes.
        if (!port || port->comName.empty())
            return Fail(ERROR_INVALID_FUNCTION, FALSE);
        header.target = static_cast<uint32_t>(ovrix::Target::Port);
        PutPortName(port->comName, header.portName);
        ownFd.Reset(ConnectControlSocket(platform::RuntimeDir() /
                                         std::string(platform::kVbusFolder) / "control"));
        if (!ownFd)
            return Fail(ERROR_INVALID_FUNCTION, FALSE);
        fd = ownFd.Get();
    }

    std::vector<BYTE> request(sizeof header + inSize);
    std::memcpy(request.data(), &header, sizeof header);
    if (inSize > 0)
        std::memcpy(request.data() + sizeof header, in, inSize);
    std::vector<BYTE> reply;
    DWORD error = 0;
    bool exchanged = Exchange(fd, request, &reply, &error);
    ownFd.Reset();
    if (!exchanged)
        return Fail(error, FALSE);

    ovrix::ReplyHeader answer{};
    std::memcpy(&answer, reply.data(), sizeof answer);
    size_t carried = reply.size() - sizeof answer;
    if (answer.magic != ovrix::kWireMagic || answer.outputLength > carried)
        return Fail(ERROR_GEN_FAILURE, FALSE);
    DWORD copied = std::min(answer.outputLength, outSize);
    if (copied > 0)
        std::memcpy(out, reply.data() + sizeof answer, copied);
    if (bytesReturned != nullptr)
        *bytesReturned = copied;
    if (answer.winError != 0)
        return Fail(answer.winError, FALSE);
    if (answer.outputLength > outSize)
        return Fail(ERROR_MORE_DATA, FALSE);
    return TRUE;
}

}  // namespace

// Control requests end within the call; an OVERLAPPED record given with one
// is filled and its event set, as for a request that ended at once.
BOOL DeviceIoControl(HANDLE handle, DWORD code, const void* in, DWORD inSize, void* out,
                     DWORD outSize, DWORD* bytesReturned, OVERLAPPED* overlapped) {
    DWORD returned = 0;
    BOOL ok = ControlRequest(handle, code, in, inSize, out, outSize, &returned);
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if (bytesReturned != nullptr)
        *bytesReturned = returned;
    if (overlapped != nullptr) {
        auto event = LookupAs<EventObject>(overlapped->hEvent);
        std::lock_guard guard(DispatcherLock());
        overlapped->Internal = error;
        overlapped->InternalHigh = returned;
        if (event)
            SignalLocked(*event);
    }
    SetLastError(error);
    return ok;
}

}  // namespace win
