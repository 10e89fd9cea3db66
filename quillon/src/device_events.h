// Device arrivals and removals, named as Windows names them in its device
// change broadcasts: a device interface "\\?\usb#vid_..&pid_..#serial#{class}"
// for a scanner endpoint, a port "COM7" for a COM port. They come from the
// runtime namespace (simulated and virtual devices) and from udev (real USB
// devices), and are delivered on the thread of the receiver.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace platform {
class NamespaceWatch;
}

namespace quillon {

inline constexpr int kDeviceArrival = 0x8000;
inline constexpr int kDeviceRemoveComplete = 0x8004;
inline constexpr int kDeviceTypePort = 3;
inline constexpr int kDeviceTypeInterface = 5;

class DeviceEvents : public QObject {
    Q_OBJECT
  public:
    explicit DeviceEvents(QObject* parent = nullptr);
    ~DeviceEvents() override;

    // Starts watching; false when the namespace watch could not start (udev
    // is optional: without it only real devices go unseen), with the
    // system's text for the cause in RegisterError().
    bool Register();
    const QString& RegisterError() const { return m_registerError; }

  signals:
    void DeviceChange(int event, int deviceType, const QString& name);

  private:
    void StartUdevMonitor();
    void OnUdevEvent();

    std::unique_ptr<platform::NamespaceWatch> m_watch;
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    QSocketNotifier* m_udevNotifier = nullptr;
    QString m_registerError;
};

}  // namespace quillon
