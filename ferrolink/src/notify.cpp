// Callbacks for scans and connection changes, the device-list thread and the
// one-shot read.
#include "ferrolink/notify.h"

#include <cstring>
#include <memory>
#include <thread>

#include "cmd_send.h"
#include "export_guard.h"
#include "ferrolink/discovery.h"
#include "library_locks.h"
#include "platform/tick.h"

namespace {

using ferrolink_guard::Guarded;

DeviceListCallback g_pfnDeviceList = nullptr;
void* g_pDeviceListUser = nullptr;

int RegisterOnRecord(_QVDeviceInfo* pInfo, StatusCallback pfnStatus, DataCallback pfnData,
                     void* pUser) {
    if (pInfo == nullptr)
        return 1;
    pInfo->SetOnlineInfo();
    if (pInfo->Open())
        qvds_register_notify(pInfo->pOpenStream->hStream,
                             reinterpret_cast<QVDS_STATUS_CALLBACK>(pfnStatus),
                             reinterpret_cast<QVDS_DATA_CALLBACK>(pfnData), pUser, 0);
    return 1;
}

void DeviceListThread(_QVDeviceInfo* pDevices) {
    for (;;) {
        if (qv_GetDevice(pDevices, 20) > 0) {
            MutexHold hold(g_deviceListMutex);
            if (g_pfnDeviceList == nullptr)
                return;
            g_pfnDeviceList(pDevices, 20, g_pDeviceListUser);
        }
        platform::SleepMs(1000);
    }
}

// Collects one reply on a per-call connection and copies it when it fits
// `capacity`: 1 copied, 0 nothing came (or the connection failed, with
// `opened` false), FERROLINK_TOO_LONG when it does not fit (nothing copied).
int ReadOnce(const _QVDeviceInfo* pInfo, unsigned char* pBuffer, size_t capacity, size_t* pnLength,
             bool* opened) {
    *opened = false;
    if (pInfo == nullptr)
        return 0;
    auto connection = std::make_unique<__STRUCT_DEVICE_ONLINE>();
    CopyPortSettings(*pInfo, *connection);
    if (!OpenConnection(connection.get()))
        return 0;
    *opened = true;
    CCmdSend sender;
    const bool read = sender.ReadReply(connection.get());
    CloseConnectionStream(connection.get(), 100);
    const size_t length = sender.m_dwCurrentSize;
    *pnLength = length;
    if (length > capacity) {
        logout_line(QVDS_LOG_ERROR, kLogSource, __LINE__, "%s %s", "GetDevBuf",
                    "reply longer than the buffer");
        return FERROLINK_TOO_LONG;
    }
    if (length > 0 && pBuffer != nullptr)
        std::memcpy(pBuffer, sender.Data(), length);
    return read ? 1 : 0;
}

}  // namespace

extern "C" {

int ktr_register_notify_all(_QVDeviceInfo* pInfo, StatusCallback pfnStatus, DataCallback pfnData,
                            void* pUser) {
    return Guarded("ktr_register_notify_all", 1,
                   [&] { return RegisterOnRecord(pInfo, pfnStatus, pfnData, pUser); });
}

int ktr_register_notify(_QVDeviceInfo* pInfo, DataCallback pfnData, void* pUser) {
    return Guarded("ktr_register_notify", 1,
                   [&] { return RegisterOnRecord(pInfo, nullptr, pfnData, pUser); });
}

int ktr_unregister_notify(_QVDeviceInfo* pInfo, int bFirst, int bSecond) {
    return Guarded("ktr_unregister_notify", 0, [&] {
        if (pInfo == nullptr)
            return 0;
        pInfo->SetOnlineInfo();
        __STRUCT_DEVICE_ONLINE* connection = pInfo->pOpenStream;
        const bool open =
            (connection->hStream != 0 && qvds_is_open(connection->hStream) != 0) || pInfo->Open();
        if (!open)
            return 0;
        qvds_unregister_notify(connection->hStream, bFirst, bSecond, 0);
        int first = 0;
        int second = 0;
        if (qvds_notify_status(connection->hStream, &first, &second, 0) != 0 && first == 0 &&
            second == 0) {
            DestroyConnectionStream(connection);
        }
        return 0;
    });
}

int ktr_register_GetDev(DeviceListCallback pfnCallback, _QVDeviceInfo* pDevices, void* pUnused,
                        void* pUser) {
    return Guarded("ktr_register_GetDev", 0, [&] {
        (void)pUnused;
        // Without a table the thread could only poll forever and never report.
        if (pDevices == nullptr)
            return 0;
        g_pDeviceListUser = pUser;
        {
            MutexHold hold(g_deviceListMutex);
            g_pfnDeviceList = pfnCallback;
        }
        std::thread(DeviceListThread, pDevices).detach();
        platform::SleepMs(300);
        return 1;
    });
}

bool GetDevBuf(_QVDeviceInfo* pInfo, unsigned char* pBuffer, int* pnLength) {
    return Guarded("GetDevBuf", false, [&] {
        size_t length = 0;
        bool opened = false;
        const int result = ReadOnce(pInfo, pBuffer, FERROLINK_DEVBUF_BYTES, &length, &opened);
        // A connection that could not be opened leaves the length untouched.
        if (opened && pnLength != nullptr)
            *pnLength = result == FERROLINK_TOO_LONG ? 0 : static_cast<int>(length);
        return result == 1;
    });
}

int GetDevBufSized(_QVDeviceInfo* pInfo, unsigned char* pBuffer, size_t nCapacity,
                   size_t* pnLength) {
    return Guarded("GetDevBufSized", 0, [&] {
        size_t length = 0;
        bool opened = false;
        const int result = ReadOnce(pInfo, pBuffer, nCapacity, &length, &opened);
        if (opened && pnLength != nullptr)
            *pnLength = length;
        return result;
    });
}

}  // extern "C"
