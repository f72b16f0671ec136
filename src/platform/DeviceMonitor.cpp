#include "platform/DeviceMonitor.h"

#include <QSocketNotifier>
#include <cstring>
#include <libudev.h>

namespace platform {

void DeviceMonitor::UdevDeleter::operator()(udev* u) const {
    udev_unref(u);
}
void DeviceMonitor::UdevDeleter::operator()(udev_monitor* m) const {
    udev_monitor_unref(m);
}

DeviceMonitor::DeviceMonitor(QObject* parent) : QObject(parent) {
    udev_.reset(udev_new());
    if (!udev_) {
        return;
    }
    monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), "udev"));
    if (!monitor_ ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_.get()) < 0) {
        monitor_.reset();
        return;
    }
    const int fd = udev_monitor_get_fd(monitor_.get());
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &DeviceMonitor::OnReadable);
}

DeviceMonitor::~DeviceMonitor() = default;

void DeviceMonitor::OnReadable() {
    std::unique_ptr<udev_device, decltype(&udev_device_unref)> device(
        udev_monitor_receive_device(monitor_.get()), &udev_device_unref);
    if (!device) {
        return;
    }
    const char* action = udev_device_get_action(device.get());
    if (action == nullptr) {
        return;
    }
    auto property = [&](const char* name) {
        const char* v = udev_device_get_property_value(device.get(), name);
        return v != nullptr && std::strcmp(v, "1") == 0;
    };
    if (std::strcmp(action, "add") == 0) {
        emit DeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME);
    } else if (std::strcmp(action, "remove") == 0) {
        emit DeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME);
    } else if (std::strcmp(action, "change") == 0 && property("DISK_MEDIA_CHANGE")) {
        // A tray or card reader: media present now means arrival, otherwise removal.
        const char* size = udev_device_get_sysattr_value(device.get(), "size");
        const bool present =
            property("ID_CDROM_MEDIA") || (size != nullptr && std::strcmp(size, "0") != 0);
        emit DeviceChange(present ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                          DBT_DEVTYP_VOLUME);
    }
}

} // namespace platform
