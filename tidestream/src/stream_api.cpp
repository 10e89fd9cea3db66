// The exported stream and notification calls: handle checks, error output,
// and the way from a device path or COM number to its tty node.
#include <optional>

#include "ferrolink/tidestream/tidestream.h"
#include "handle_table.h"
#include "platform/runtime_namespace.h"
#include "tty_stream.h"
#include "udev_devices.h"
#include "utf16.h"

using tidestream::HandleTable;
using tidestream::TtyStream;

namespace {

void SetError(int* error, int code) {
    if (error != nullptr) {
        *error = code;
    }
}

// A namespace entry first, then a real USB-serial tty listed by udev; a plain
// Linux path ("/dev/ttyACM0") is taken as it is.
std::optional<std::filesystem::path> NodeOfUsbPath(const char16_t* devicePath) {
    const std::u16string path(devicePath, tidestream::Utf16Length(devicePath, 4096));
    if (auto node = platform::ResolveUsbDevicePath(path)) {
        return node;
    }
    const std::string name = platform::UsbNameFromDevicePath(path);
    if (!name.empty()) {
        for (const auto& tty : tidestream::ListUsbSerialTtys()) {
            if (tty.name == name) {
                return tty.node;
            }
        }
        return std::nullopt;
    }
    if (!path.empty() && path[0] == u'/') {
        return std::filesystem::path(tidestream::Utf8FromUtf16(path));
    }
    return std::nullopt;
}

}  // namespace

extern "C" {

QVDS_HANDLE qvds_create(void) {
    try {
        return HandleTable::Instance().Add(std::make_shared<TtyStream>());
    } catch (...) {
        return 0;
    }
}

int qvds_open_usb(QVDS_HANDLE h, const char16_t* wszDevicePath, int /*nMode*/, int* pnError) {
    auto stream = HandleTable::Instance().Find(h);
    if (!stream) {
        SetError(pnError, QVDS_ERR_BAD_HANDLE);
        return 0;
    }
    if (wszDevicePath == nullptr) {
        SetError(pnError, QVDS_ERR_INVALID);
        return 0;
    }
    const auto node = NodeOfUsbPath(wszDevicePath);
    if (!node) {
        stream->Close();
        SetError(pnError, QVDS_ERR_NO_DEVICE);
        return 0;
    }
    const int error = stream->Open(*node, tidestream::kUsbBaudRate, 8);
    SetError(pnError, error);
    return error == QVDS_OK ? 1 : 0;
}

int qvds_open_com(QVDS_HANDLE h, const ComPortSettings* pSettings, int* pnError) {
    auto stream = HandleTable::Instance().Find(h);
    if (!stream) {
        SetError(pnError, QVDS_ERR_BAD_HANDLE);
        return 0;
    }
    if (pSettings == nullptr) {
        SetError(pnError, QVDS_ERR_INVALID);
        return 0;
    }
    const auto node = platform::ResolveComPort(pSettings->wPort);
    if (!node) {
        stream->Close();
        SetError(pnError, QVDS_ERR_NO_DEVICE);
        return 0;
    }
    const int error = stream->Open(*node, pSettings->dwBaudRate, pSettings->byDataBits);
    SetError(pnError, error);
    return error == QVDS_OK ? 1 : 0;
}

int qvds_is_open(QVDS_HANDLE h) {
    auto stream = HandleTable::Instance().Find(h);
    return stream && stream->IsOpen() ? 1 : 0;
}

int qvds_clean(QVDS_HANDLE h, int /*nFlags*/) {
    auto stream = HandleTable::Instance().Find(h);
    return stream && stream->Clean() ? 1 : 0;
}

int qvds_write(QVDS_HANDLE h, const void* pData, uint32_t dwLength) {
    auto stream = HandleTable::Instance().Find(h);
    return stream && stream->Write(pData, dwLength) ? 1 : 0;
}

int qvds_read_until(QVDS_HANDLE h, void* pBuffer, uint32_t dwSize, uint32_t dwTimeoutMs,
                    int /*nMode*/, const char* pTerminator, uint32_t dwTerminatorLength,
                    int* pnError) {
    auto stream = HandleTable::Instance().Find(h);
    if (!stream) {
        SetError(pnError, QVDS_ERR_BAD_HANDLE);
        return 0;
    }
    const std::string_view terminator = pTerminator == nullptr
                                            ? std::string_view()
                                            : std::string_view(pTerminator, dwTerminatorLength);
    const uint32_t placed =
        stream->ReadUntil(static_cast<uint8_t*>(pBuffer), dwSize, dwTimeoutMs, terminator, pnError);
    return static_cast<int>(placed);
}

int qvds_close(QVDS_HANDLE h) {
    auto stream = HandleTable::Instance().Find(h);
    if (!stream) {
        return 0;
    }
    stream->Close();
    return 1;
}

int qvds_destory(QVDS_HANDLE h) {
    auto stream = HandleTable::Instance().Remove(h);
    if (!stream) {
        return 0;
    }
    stream->Close();
    return 1;
}

int qvds_register_notify(QVDS_HANDLE h, QVDS_STATUS_CALLBACK pfnStatus, QVDS_DATA_CALLBACK pfnData,
                         void* pUser, int /*nFlags*/) {
    auto stream = HandleTable::Instance().Find(h);
    if (!stream || !stream->IsOpen()) {
        return 0;
    }
    return stream->notifier().Register(stream->fd(), pfnStatus, pfnData, pUser) ? 1 : 0;
}

int qvds_unregister_notify(QVDS_HANDLE h, int bStatus, int bData, int /*nFlags*/) {
    auto stream = HandleTable::Instance().Find(h);
    if (!stream) {
        return 0;
    }
    stream->notifier().Unregister(bStatus != 0, bData != 0);
    return 1;
}

int qvds_notify_status(QVDS_HANDLE h, int* pbStatus, int* pbData, int /*nFlags*/) {
    auto stream = HandleTable::Instance().Find(h);
    if (!stream || pbStatus == nullptr || pbData == nullptr) {
        return 0;
    }
    bool status = false;
    bool data = false;
    stream->notifier().Registered(&status, &data);
    *pbStatus = status ? 1 : 0;
    *pbData = data ? 1 : 0;
    return 1;
}

}  // extern "C"
