// Callbacks for scans and connection changes, the device-list thread and the
// one-shot read.
#include "ferrolink/notify.h"

#include <cstring>
#include <memory>
#include <thread>

#include "cmd_send.h"
#include "ferrolink/discovery.h"
#include "library_locks.h"
#include "platform/tick.h"

namespace {

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

}  // namespace

extern "C" {

int ktr_register_notify_all(_QVDeviceInfo* pInfo, StatusCallback pfnStatus, DataCallback pfnData,
                            void* pUser) {
    return RegisterOnRecord(pInfo, pfnStatus, pfnData, pUser);
}

int ktr_register_notify(_QVDeviceInfo* pInfo, DataCallback pfnData, void* pUser) {
    return RegisterOnRecord(pInfo, nullptr, pfnData, pUser);
}

int ktr_unregister_notify(_QVDeviceInfo* pInfo, int bFirst, int bSecond) {
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
        qvds_close(connection->hStream);
        qvds_destory(connection->hStream);
        connection->hStream = 0;
    }
    return 0;
}

int ktr_register_GetDev(DeviceListCallback pfnCallback, _QVDeviceInfo* pDevices, void* pUnused,
                        void* pUser) {
    (void)pUnused;
    // Without a table the thread could only poll forever and never report.
    if (pDevices == nullptr)
        return 0;
    g_pDeviceListUser = pUser;
    {
        MutexHold hold(g_deviceListMutex);
        g_pfnDeviceList = pfnCallback;
    }
    try {
        std::thread(DeviceListThread, pDevices).detach();
    } catch (...) {
        return 0;
    }
    platform::SleepMs(300);
    return 1;
}

bool GetDevBuf(_QVDeviceInfo* pInfo, unsigned char* pBuffer, int* pnLength) {
    if (pInfo == nullptr)
        return false;
    auto connection = std::make_unique<__STRUCT_DEVICE_ONLINE>();
    CopyPortSettings(*pInfo, *connection);
    if (!OpenConnection(connection.get()))
        return false;
    CCmdSend sender;
    const bool read = sender.ReadReply(connection.get());
    CloseConnectionStream(connection.get(), 100);
    if (pnLength != nullptr) {
        *pnLength = static_cast<int>(sender.m_dwCurrentSize);
        if (sender.m_dwCurrentSize > 0 && pBuffer != nullptr)
            std::memcpy(pBuffer, sender.m_pData, sender.m_dwCurrentSize);
    }
    return read;
}

}  // extern "C"
