#include "platform/linux/UdevWatch.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace platform {

namespace {

// Where udevd listens; it exists only while udevd runs.
constexpr const char* UDEVD_CONTROL = "/run/udev/control";

class UdevHidWatch final : public HidWatch {
public:
    UdevHidWatch(udev* context, udev_monitor* monitor, int wake)
        : m_udev(context), m_monitor(monitor), m_wake(wake) {}
    UdevHidWatch(const UdevHidWatch&) = delete;
    UdevHidWatch& operator=(const UdevHidWatch&) = delete;
    ~UdevHidWatch() override {
        udev_monitor_unref(m_monitor);
        udev_unref(m_udev);
        ::close(m_wake);
    }

    WatchStatus wait(std::uint32_t timeoutMs, std::vector<std::string>& departed) override {
        if (m_cancelled.load(std::memory_order_acquire)) {
            return WatchStatus::Cancelled;
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        pollfd fds[2] = {{udev_monitor_get_fd(m_monitor), POLLIN, 0}, {m_wake, POLLIN, 0}};
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            const int ready =
                ::poll(fds, 2, static_cast<int>(std::max<long long>(left.count(), 0)));
            if (ready > 0) {
                break;
            }
            if (ready == 0) {
                return WatchStatus::TimedOut;
            }
            if (errno != EINTR) {
                return WatchStatus::Failed;
            }
        }
        if (fds[1].revents != 0) {
            return WatchStatus::Cancelled;
        }
        if ((fds[0].revents & (POLLHUP | POLLNVAL)) != 0) {
            errno = EIO;
            return WatchStatus::Failed;
        }
        // Everything queued: one search answers for all of it. Messages lost to a full
        // socket (POLLERR, ENOBUFS, cleared by the next receive) lose only the names of
        // paths that went; the search still sees what changed.
        while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
            const char* action = udev_device_get_action(device);
            const char* node = udev_device_get_devnode(device);
            if (action != nullptr && node != nullptr && std::strcmp(action, "remove") == 0) {
                departed.emplace_back(node);
            }
            udev_device_unref(device);
        }
        return WatchStatus::Changed;
    }

    void cancel() override {
        m_cancelled.store(true, std::memory_order_release);
        // Never read back: the eventfd stays readable and every later poll returns at once.
        const std::uint64_t one = 1;
        ssize_t n = 0;
        do {
            n = ::write(m_wake, &one, sizeof one);
        } while (n < 0 && errno == EINTR);
    }

private:
    udev* const m_udev;
    udev_monitor* const m_monitor;
    const int m_wake;
    std::atomic<bool> m_cancelled{false};
};

}  // namespace

std::unique_ptr<HidWatch> watchHidrawThroughUdev() {
    if (::access(UDEVD_CONTROL, F_OK) != 0) {
        return nullptr;  // errno from access
    }
    udev* context = udev_new();
    if (context == nullptr) {
        return nullptr;
    }
    // "udev": the events udevd sends once it is done with a device, not the kernel's own,
    // which come before the node may be opened.
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    int result = monitor == nullptr ? -errno : 0;
    if (result == 0) {
        result = udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
    }
    if (result == 0) {
        result = udev_monitor_enable_receiving(monitor);
    }
    const int wake = result == 0 ? ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
    if (result == 0 && wake < 0) {
        result = -errno;
    }
    if (result != 0) {
        udev_monitor_unref(monitor);
        udev_unref(context);
        errno = result < 0 ? -result : EIO;
        return nullptr;
    }
    return std::make_unique<UdevHidWatch>(context, monitor, wake);
}

}  // namespace platform
