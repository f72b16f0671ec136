#pragma once
// Watches block devices through libudev and reports media arrival and removal as
// device-change events (0x8000 arrival, 0x8004 removal complete) for a logical
// volume (device type 2). Tests inject events with Inject().
#include <QObject>
#include <memory>

class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace platform {

constexpr unsigned DBT_DEVICEARRIVAL = 0x8000;
constexpr unsigned DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr unsigned DBT_DEVTYP_VOLUME = 2;

class DeviceMonitor : public QObject {
    Q_OBJECT
public:
    explicit DeviceMonitor(QObject* parent = nullptr);
    ~DeviceMonitor() override;

    bool Active() const { return notifier_ != nullptr; }
    void Inject(unsigned event, unsigned deviceType) { emit DeviceChange(event, deviceType); }

signals:
    void DeviceChange(unsigned event, unsigned deviceType);

private:
    void OnReadable();

    struct UdevDeleter {
        void operator()(udev* u) const;
        void operator()(udev_monitor* m) const;
    };
    std::unique_ptr<udev, UdevDeleter> udev_;
    std::unique_ptr<udev_monitor, UdevDeleter> monitor_;
    QSocketNotifier* notifier_ = nullptr; // child of this
};

} // namespace platform
