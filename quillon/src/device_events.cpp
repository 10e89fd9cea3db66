#include "device_events.h"

#include <libudev.h>

#include <QSocketNotifier>
#include <cstring>

#include "platform/runtime_namespace.h"
#include "usb_interface_name.h"

namespace quillon {

DeviceEvents::DeviceEvents(QObject* parent) : QObject(parent) {}

DeviceEvents::~DeviceEvents() {
    if (m_watch) {
        m_watch->Stop();
    }
    delete m_udevNotifier;
    if (m_monitor != nullptr) {
        udev_monitor_unref(m_monitor);
    }
    if (m_udev != nullptr) {
        udev_unref(m_udev);
    }
}

void DeviceEvents::StartUdevMonitor() {
    m_udev = udev_new();
    if (m_udev == nullptr) {
        return;
    }
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (m_monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "usb", "usb_device") < 0 ||
        udev_monitor_enable_receiving(m_monitor) < 0) {
        return;
    }
    m_udevNotifier =
        new QSocketNotifier(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read, this);
    connect(m_udevNotifier, &QSocketNotifier::activated, this, &DeviceEvents::OnUdevEvent);
}

void DeviceEvents::OnUdevEvent() {
    udev_device* device = udev_monitor_receive_device(m_monitor);
    if (device == nullptr) {
        return;
    }
    const char* action = udev_device_get_action(device);
    const char* product = udev_device_get_property_value(device, "PRODUCT");
    const char* serial = udev_device_get_property_value(device, "ID_SERIAL_SHORT");
    const bool arrived = action != nullptr && std::strcmp(action, "add") == 0;
    const bool removed = action != nullptr && std::strcmp(action, "remove") == 0;
    const QString name =
        UsbInterfaceName(product != nullptr ? product : "", serial != nullptr ? serial : "");
    udev_device_unref(device);
    if ((arrived || removed) && !name.isEmpty()) {
        emit DeviceChange(arrived ? kDeviceArrival : kDeviceRemoveComplete, kDeviceTypeInterface,
                          name);
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
    const bool running = m_watch->IsRunning();
    if (!running) {
        const int watchError = m_watch->StartError().code;
        m_registerError = watchError != 0
                              ? QString::fromLocal8Bit(std::strerror(watchError))
                              : QStringLiteral("the runtime namespace cannot be watched");
    }
    StartUdevMonitor();
    return running;
}

}  // namespace quillon
