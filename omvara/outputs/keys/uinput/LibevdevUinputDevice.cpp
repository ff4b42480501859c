// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/KeyInjector.h"
#include "omvara/outputs/keys/uinput/UinputDevice.h"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <linux/input.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace omvara::outputs::keys {

namespace {

// A desktop needs a moment to notice a new input device; key events sent
// before it has opened the device are lost.
constexpr auto settleTime = std::chrono::milliseconds(300);

class LibevdevUinputDevice : public UinputDevice
{
public:
    LibevdevUinputDevice(int fd, libevdev *dev, libevdev_uinput *uinput)
        : m_fd(fd)
        , m_dev(dev)
        , m_uinput(uinput)
        , m_created(std::chrono::steady_clock::now())
    {
    }
    ~LibevdevUinputDevice() override
    {
        libevdev_uinput_destroy(m_uinput);
        libevdev_free(m_dev);
        close(m_fd);
    }

    void writeEvent(unsigned type, unsigned code, int value) override
    {
        if (!m_settled) {
            std::this_thread::sleep_until(m_created + settleTime);
            m_settled = true;
        }
        const int rc = libevdev_uinput_write_event(m_uinput, type, code, value);
        if (rc < 0)
            throw KeyInjectionError(QString::fromLocal8Bit(strerror(-rc)));
    }

    std::optional<bool> capsLockLed() override
    {
        // The kernel hands LED changes for our device back on the uinput
        // file descriptor; read what has arrived without waiting.
        input_event event {};
        while (read(m_fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event)) {
            if (event.type == EV_LED && event.code == LED_CAPSL)
                m_capsLock = event.value != 0;
        }
        return m_capsLock;
    }

private:
    int m_fd;
    libevdev *m_dev;
    libevdev_uinput *m_uinput;
    std::chrono::steady_clock::time_point m_created;
    bool m_settled = false;
    std::optional<bool> m_capsLock;
};

} // namespace

QString uinputAccessMessage(const QString &uinputPath, int error)
{
    // One sentence on what is missing; the user guide says how to mend it.
    QString missing;
    if (error == ENOENT)
        missing = QStringLiteral("the device node %1 does not exist: the uinput kernel module is not loaded")
                      .arg(uinputPath);
    else if (error == ENODEV || error == ENXIO)
        missing = QStringLiteral("the uinput kernel module is not loaded");
    else if (error == EACCES || error == EPERM)
        missing
            = QStringLiteral("you have no permission to use %1 (the package gives it to the user at the seat;"
                             " log in again after installing it)")
                  .arg(uinputPath);
    else
        missing = QStringLiteral("%1 cannot be opened").arg(uinputPath);
    return QStringLiteral("uinput: cannot open %1 (%2). Typing without X11 is not possible because %3;"
                          " see \"Typing on Wayland\" in the user guide.")
        .arg(uinputPath, QString::fromLocal8Bit(strerror(error)), missing);
}

std::unique_ptr<UinputDevice> openLibevdevUinputDevice(
    const std::vector<int> &keys, const QString &uinputPath)
{
    const QByteArray path = uinputPath.toLocal8Bit();
    const int fd = open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw KeyboardUnavailableError(uinputAccessMessage(uinputPath, errno));

    libevdev *dev = libevdev_new();
    libevdev_set_name(dev, "Omvara virtual keyboard");
    libevdev_set_id_bustype(dev, BUS_VIRTUAL);
    libevdev_enable_event_type(dev, EV_KEY);
    for (int key : keys)
        libevdev_enable_event_code(dev, EV_KEY, static_cast<unsigned>(key), nullptr);
    libevdev_enable_event_type(dev, EV_LED);
    libevdev_enable_event_code(dev, EV_LED, LED_CAPSL, nullptr);
    libevdev_enable_event_type(dev, EV_SYN);

    libevdev_uinput *uinput = nullptr;
    const int rc = libevdev_uinput_create_from_device(dev, fd, &uinput);
    if (rc < 0) {
        libevdev_free(dev);
        close(fd);
        throw KeyboardUnavailableError(QStringLiteral("uinput: cannot create the virtual keyboard on %1 (%2)")
                                           .arg(uinputPath, QString::fromLocal8Bit(strerror(-rc))));
    }
    return std::make_unique<LibevdevUinputDevice>(fd, dev, uinput);
}

} // namespace omvara::outputs::keys
