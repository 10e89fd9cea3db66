#include "device_events.h"

#include "platform/runtime_namespace.h"

namespace quillon {

DeviceEvents::DeviceEvents(QObject* parent) : QObject(parent) {}

DeviceEvents::~DeviceEvents() {
    if (m_watch) {
        m_watch->Stop();
    }
}

bool DeviceEvents::Register() {
    const std::string usb(platform::kUsbFolder);
    const std::string com(platform::kComFolder);
    m_watch = std::make_unique<platform::NamespaceWatch>(
        std::vector<std::string>{usb, com}, [this, usb](const platform::NamespaceEvent& event) {
            const int kind = event.arrived ? kDeviceArrival : kDeviceRemoveComplete;
            if (event.folder == usb) {
                const std::u16string path = platform::UsbDevicePathFromName(event.name);
                // Queued: the receiver handles it on its own thread.
                emit DeviceChange(kind, kDeviceTypeInterface, QString::fromStdU16String(path));
            } else {
                emit DeviceChange(kind, kDeviceTypePort, QString::fromStdString(event.name));
            }
        });
    return m_watch->IsRunning();
}

}  // namespace quillon
