#include "platform/linux/UdevWatch.h"

#include <dlfcn.h>
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

// libudev, loaded when the first watch is made: most runs of a program never watch, and
// loading the library at the start costs each of them more than its own work.
struct Udev {
    decltype(&::udev_new) newContext = nullptr;
    decltype(&::udev_unref) unref = nullptr;
    decltype(&::udev_monitor_new_from_netlink) newMonitor = nullptr;
    decltype(&::udev_monitor_filter_add_match_subsystem_devtype) matchSubsystem = nullptr;
    decltype(&::udev_monitor_enable_receiving) enableReceiving = nullptr;
    decltype(&::udev_monitor_get_fd) monitorFd = nullptr;
    decltype(&::udev_monitor_receive_device) receiveDevice = nullptr;
    decltype(&::udev_monitor_unref) monitorUnref = nullptr;
    decltype(&::udev_device_get_action) deviceAction = nullptr;
    decltype(&::udev_device_get_devnode) deviceNode = nullptr;
    decltype(&::udev_device_unref) deviceUnref = nullptr;
    bool loaded = false;
};

template <typename Function>
bool bind(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

// Null when libudev (its ABI 1) cannot be loaded: the caller then watches by the clock.
const Udev* loadUdev() {
    static const Udev udev = [] {
        Udev functions;
        // Kept loaded for the rest of the program: a watch may be made again.
        void* library = ::dlopen("libudev.so.1", RTLD_NOW | RTLD_LOCAL);
        functions.loaded =
            library != nullptr && bind(library, "udev_new", functions.newContext) &&
            bind(library, "udev_unref", functions.unref) &&
            bind(library, "udev_monitor_new_from_netlink", functions.newMonitor) &&
            bind(library, "udev_monitor_filter_add_match_subsystem_devtype",
                 functions.matchSubsystem) &&
            bind(library, "udev_monitor_enable_receiving", functions.enableReceiving) &&
            bind(library, "udev_monitor_get_fd", functions.monitorFd) &&
            bind(library, "udev_monitor_receive_device", functions.receiveDevice) &&
            bind(library, "udev_monitor_unref", functions.monitorUnref) &&
            bind(library, "udev_device_get_action", functions.deviceAction) &&
            bind(library, "udev_device_get_devnode", functions.deviceNode) &&
            bind(library, "udev_device_unref", functions.deviceUnref);
        return functions;
    }();
    return udev.loaded ? &udev : nullptr;
}

class UdevHidWatch final : public HidWatch {
public:
    UdevHidWatch(const Udev& library, udev* context, udev_monitor* monitor, int wake)
        : m_library(library), m_udev(context), m_monitor(monitor), m_wake(wake) {}
    UdevHidWatch(const UdevHidWatch&) = delete;
    UdevHidWatch& operator=(const UdevHidWatch&) = delete;
    ~UdevHidWatch() override {
        m_library.monitorUnref(m_monitor);
        m_library.unref(m_udev);
        ::close(m_wake);
    }

    WatchStatus wait(std::uint32_t timeoutMs, std::vector<std::string>& departed) override {
        if (m_cancelled.load(std::memory_order_acquire)) {
            return WatchStatus::Cancelled;
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        pollfd fds[2] = {{m_library.monitorFd(m_monitor), POLLIN, 0}, {m_wake, POLLIN, 0}};
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
        while (udev_device* device = m_library.receiveDevice(m_monitor)) {
            const char* action = m_library.deviceAction(device);
            const char* node = m_library.deviceNode(device);
            if (action != nullptr && node != nullptr && std::strcmp(action, "remove") == 0) {
                departed.emplace_back(node);
            }
            m_library.deviceUnref(device);
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
    const Udev& m_library;
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
    const Udev* library = loadUdev();
    if (library == nullptr) {
        errno = ELIBACC;
        return nullptr;
    }
    udev* context = library->newContext();
    if (context == nullptr) {
        return nullptr;
    }
    // "udev": the events udevd sends once it is done with a device, not the kernel's own,
    // which come before the node may be opened.
    udev_monitor* monitor = library->newMonitor(context, "udev");
    int result = monitor == nullptr ? -errno : 0;
    if (result == 0) {
        result = library->matchSubsystem(monitor, "hidraw", nullptr);
    }
    if (result == 0) {
        result = library->enableReceiving(monitor);
    }
    const int wake = result == 0 ? ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
    if (result == 0 && wake < 0) {
        result = -errno;
    }
    if (result != 0) {
        library->monitorUnref(monitor);
        library->unref(context);
        errno = result < 0 ? -result : EIO;
        return nullptr;
    }
    return std::make_unique<UdevHidWatch>(*library, context, monitor, wake);
}

}  // namespace platform
