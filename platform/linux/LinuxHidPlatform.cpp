#include "platform/linux/LinuxHidPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/linux/ReportDescriptor.h"
#include "platform/linux/SysfsText.h"

namespace platform {

namespace {

// Sysfs shows at most a page per attribute and the kernel caps report descriptors at
// HID_MAX_DESCRIPTOR_SIZE; anything longer did not come from the kernel.
constexpr std::size_t SYSFS_MAX_TEXT_BYTES = 4096;
constexpr std::size_t SYSFS_MAX_RDESC_BYTES = HID_MAX_DESCRIPTOR_SIZE;

constexpr std::string_view SYSFS_HIDRAW_PREFIX = "hidraw";

thread_local std::uint32_t t_lastError = 0;

void setLastError(int error) {
    t_lastError = static_cast<std::uint32_t>(error);
}

// Owns one file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    void reset() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    int m_fd = -1;
};

Fd openRetrying(const char* path, int flags) {
    int fd = -1;
    do {
        fd = ::open(path, flags);
    } while (fd < 0 && errno == EINTR);
    return Fd(fd);
}

// A whole sysfs attribute of at most `limit` bytes. Only regular files are read: a
// FIFO or device node put in the tree could block or never end.
bool readSysfsFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& out) {
    const Fd fd = openRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (!fd.valid()) {
        setLastError(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        setLastError(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        setLastError(EINVAL);
        return false;
    }
    // One byte of room beyond the limit tells a file of exactly `limit` bytes from a
    // longer one.
    out.resize(limit + 1);
    std::size_t filled = 0;
    while (filled < out.size()) {
        const ssize_t n = ::read(fd.get(), out.data() + filled, out.size() - filled);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            setLastError(errno);
            return false;
        }
        if (n == 0) {
            break;
        }
        filled += static_cast<std::size_t>(n);
    }
    if (filled > limit) {
        setLastError(EFBIG);
        return false;
    }
    out.resize(filled);
    return true;
}

std::string_view asText(const std::vector<std::uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The N of "hidrawN" as the kernel names the nodes: digits only, no leading zero.
std::optional<std::uint32_t> hidrawNumber(std::string_view name) {
    if (name.substr(0, SYSFS_HIDRAW_PREFIX.size()) != SYSFS_HIDRAW_PREFIX) {
        return std::nullopt;
    }
    return parseSysfsDecimal(name.substr(SYSFS_HIDRAW_PREFIX.size()), 9);
}

// The last path component is dropped; false when there is none left to drop.
bool dropLastComponent(std::string& path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        return false;
    }
    path.resize(slash);
    return true;
}

// The USB device two levels above the HID device of a hidraw node's sysfs folder: HID
// device, USB interface, USB device. A HID device on another bus has none.
bool usbDeviceFolder(const std::string& sysfsDir, std::string& dir) {
    if (sysfsDir.empty()) {
        setLastError(ENOENT);
        return false;
    }
    char* resolved = ::realpath((sysfsDir + "/device").c_str(), nullptr);
    if (resolved == nullptr) {
        setLastError(errno);
        return false;
    }
    std::string path(resolved);
    std::free(resolved);
    if (!dropLastComponent(path) || !dropLastComponent(path)) {
        setLastError(ENODEV);
        return false;
    }
    std::vector<std::uint8_t> uevent;
    if (!readSysfsFile(path + "/uevent", SYSFS_MAX_TEXT_BYTES, uevent)) {
        return false;
    }
    if (!ueventHasLine(asText(uevent), "DEVTYPE=usb_device")) {
        setLastError(ENODEV);
        return false;
    }
    dir = std::move(path);
    return true;
}

struct HidrawEntry {
    std::string node;      // <devRoot>/hidrawN
    std::string sysfsDir;  // <sysfsRoot>/class/hidraw/hidrawN
};

class LinuxHidInterfaceSet final : public HidInterfaceSet {
public:
    explicit LinuxHidInterfaceSet(std::vector<HidrawEntry> entries)
        : m_entries(std::move(entries)) {}

    Status interfaceAt(std::uint32_t index) override {
        return index < m_entries.size() ? Status::Ok : Status::NoMoreItems;
    }

    Status pathSize(std::uint32_t index, std::size_t& size) override {
        if (index >= m_entries.size()) {
            return Status::NoMoreItems;
        }
        size = m_entries[index].node.size() + 1;
        return Status::Ok;
    }

    Status path(std::uint32_t index, char* buffer, std::size_t size) override {
        if (index >= m_entries.size()) {
            return Status::NoMoreItems;
        }
        const std::string& path = m_entries[index].node;
        if (buffer == nullptr || size < path.size() + 1) {
            setLastError(ERANGE);
            return Status::Failed;
        }
        std::memcpy(buffer, path.c_str(), path.size() + 1);
        return Status::Ok;
    }

    // The name of the USB device's folder is its port chain; the kernel keeps it for the
    // port, whatever is plugged there and however often.
    std::string location(std::uint32_t index) override {
        // A device without one is no failure of discovery: its last error stays.
        const std::uint32_t saved = t_lastError;
        std::string usbDir;
        const bool found =
            index < m_entries.size() && usbDeviceFolder(m_entries[index].sysfsDir, usbDir);
        t_lastError = saved;
        if (!found) {
            return {};
        }
        const std::size_t slash = usbDir.rfind('/');
        return usbPortChain(std::string_view(usbDir).substr(slash + 1)).value_or(std::string());
    }

private:
    std::vector<HidrawEntry> m_entries;
};

class LinuxHidHandle final : public HidHandle {
public:
    LinuxHidHandle(Fd device, Fd wake, std::string sysfsDir)
        : m_device(std::move(device)), m_wake(std::move(wake)), m_sysfsDir(std::move(sysfsDir)) {}

    // Reports of a device that does not number them arrive without byte 0.
    void setNumbered(bool numbered) { m_numbered = numbered; }

    bool reportDescriptor(std::vector<std::uint8_t>& out) const {
        int size = 0;
        if (::ioctl(m_device.get(), HIDIOCGRDESCSIZE, &size) == 0) {
            if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
                setLastError(EINVAL);
                return false;
            }
            hidraw_report_descriptor descriptor{};
            descriptor.size = static_cast<std::uint32_t>(size);
            if (::ioctl(m_device.get(), HIDIOCGRDESC, &descriptor) != 0) {
                setLastError(errno);
                return false;
            }
            out.assign(descriptor.value, descriptor.value + size);
            return true;
        }
        if (!notHidraw(errno)) {
            setLastError(errno);
            return false;
        }
        return readSysfs("device/report_descriptor", SYSFS_MAX_RDESC_BYTES, out);
    }

    // Ids from the open node when it is a hidraw node: it answers for the very device
    // that is open, while a sysfs name may meanwhile belong to a replugged one. The
    // uevent serves nodes that are no hidraw node (a fake tree).
    bool attributes(HidAttributes& attributes) override {
        HidAttributes found;
        hidraw_devinfo info{};
        if (::ioctl(m_device.get(), HIDIOCGRAWINFO, &info) == 0) {
            found.vendorId = static_cast<std::uint16_t>(info.vendor);
            found.productId = static_cast<std::uint16_t>(info.product);
        } else if (!notHidraw(errno)) {
            setLastError(errno);
            return false;
        } else {
            std::vector<std::uint8_t> uevent;
            if (!readSysfs("device/uevent", SYSFS_MAX_TEXT_BYTES, uevent)) {
                return false;
            }
            const auto id = parseHidId(asText(uevent));
            if (!id) {
                setLastError(EINVAL);
                return false;
            }
            found.vendorId = id->vendorId;
            found.productId = id->productId;
        }
        // The release number lives only with a USB device; others have none.
        std::string usbDir;
        std::vector<std::uint8_t> bcd;
        const std::uint32_t saved = t_lastError;
        if (usbDevice(usbDir) && readSysfsFile(usbDir + "/bcdDevice", SYSFS_MAX_TEXT_BYTES, bcd)) {
            const auto version = parseSysfsHex(asText(bcd));
            if (version && *version <= 0xFFFF) {
                found.version = static_cast<std::uint16_t>(*version);
            }
        }
        t_lastError = saved;
        attributes = found;
        return true;
    }

    bool manufacturerString(char16_t* buffer, std::size_t units) override {
        return usbString("manufacturer", buffer, units);
    }

    bool productString(char16_t* buffer, std::size_t units) override {
        return usbString("product", buffer, units);
    }

    bool serialNumberString(char16_t* buffer, std::size_t units) override {
        return usbString("serial", buffer, units);
    }

    bool capabilities(HidCaps& caps) override {
        std::vector<std::uint8_t> descriptor;
        if (!reportDescriptor(descriptor)) {
            return false;
        }
        const auto summary = parseReportDescriptor(descriptor);
        if (!summary) {
            setLastError(EINVAL);
            return false;
        }
        caps.inputReportByteLength = summary->inputReportByteLength;
        caps.outputReportByteLength = summary->outputReportByteLength;
        caps.featureReportByteLength = summary->featureReportByteLength;
        return true;
    }

    ReadResult read(std::uint8_t* buffer, std::size_t length) override {
        ReadResult result;
        if (buffer == nullptr || length == 0 || (!m_numbered && length < 2)) {
            setLastError(EINVAL);
            return result;
        }
        if (m_cancelled.load(std::memory_order_acquire)) {
            return result;
        }
        pollfd fds[2] = {{m_device.get(), POLLIN, 0}, {m_wake.get(), POLLIN, 0}};
        // A first look without waiting tells a report already queued from one the
        // read had to wait for.
        int timeout = 0;
        for (;;) {
            const int ready = ::poll(fds, 2, timeout);
            if (ready > 0) {
                break;
            }
            if (ready == 0) {
                result.waited = true;
                timeout = -1;
                continue;
            }
            if (errno != EINTR) {
                setLastError(errno);
                return result;
            }
        }
        if (fds[1].revents != 0) {
            return result;
        }
        // Hang-up or error: the device is gone; whatever it left is not delivered.
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            setLastError(ENODEV);
            return result;
        }
        std::uint8_t* target = buffer;
        std::size_t room = length;
        if (!m_numbered) {
            buffer[0] = 0;
            ++target;
            --room;
        }
        ssize_t n = 0;
        do {
            n = ::read(m_device.get(), target, room);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            // EIO: the device is gone; EAGAIN: someone else took the report.
            setLastError(n < 0 ? errno : ENODATA);
            return result;
        }
        result.bytes = static_cast<std::size_t>(n) + (m_numbered ? 0 : 1);
        return result;
    }

    void cancelRead() override {
        m_cancelled.store(true, std::memory_order_release);
        // The counter is never read back, so the eventfd stays readable and every later
        // poll returns at once. EAGAIN means it is readable already.
        const std::uint64_t one = 1;
        ssize_t n = 0;
        do {
            n = ::write(m_wake.get(), &one, sizeof one);
        } while (n < 0 && errno == EINTR);
    }

    WriteStatus write(const std::uint8_t* data, std::size_t length) override {
        if (data == nullptr || length == 0) {
            setLastError(EINVAL);
            return WriteStatus::Failed;
        }
        ssize_t n = 0;
        do {
            n = ::write(m_device.get(), data, length);
        } while (n < 0 && errno == EINTR);
        if (n >= 0 && static_cast<std::size_t>(n) == length) {
            return WriteStatus::Ok;
        }
        if (n >= 0) {
            // Part of a report is no report.
            setLastError(EIO);
            return WriteStatus::Failed;
        }
        const int error = errno;
        setLastError(error);
        // hidraw says ENODEV once the device is gone; the USB core may say ESHUTDOWN
        // while the disconnect is still on its way.
        return error == ENODEV || error == ESHUTDOWN ? WriteStatus::NotConnected
                                                     : WriteStatus::Failed;
    }

private:
    // The node answers no hidraw ioctl: it is no hidraw node.
    static bool notHidraw(int error) { return error == ENOTTY || error == EINVAL; }

    // An attribute below the node's sysfs folder.
    bool readSysfs(const char* relative, std::size_t limit, std::vector<std::uint8_t>& out) const {
        if (m_sysfsDir.empty()) {
            setLastError(ENOENT);
            return false;
        }
        return readSysfsFile(m_sysfsDir + "/" + relative, limit, out);
    }

    bool usbDevice(std::string& dir) const { return usbDeviceFolder(m_sysfsDir, dir); }

    bool usbString(const char* attribute, char16_t* buffer, std::size_t units) const {
        if (buffer == nullptr || units == 0) {
            setLastError(EINVAL);
            return false;
        }
        std::string dir;
        std::vector<std::uint8_t> bytes;
        if (!usbDevice(dir) || !readSysfsFile(dir + "/" + attribute, SYSFS_MAX_TEXT_BYTES, bytes)) {
            return false;
        }
        const std::u16string text = sysfsStringToUtf16(bytes);
        // Cut to fit, always terminated.
        const std::size_t count = std::min(text.size(), units - 1);
        std::copy_n(text.begin(), count, buffer);
        buffer[count] = u'\0';
        return true;
    }

    const Fd m_device;
    const Fd m_wake;
    const std::string m_sysfsDir;
    bool m_numbered = true;
    std::atomic<bool> m_cancelled{false};
};

}  // namespace

LinuxHidPlatform::LinuxHidPlatform(std::string sysfsRoot, std::string devRoot,
                                   WatchSource watchSource)
    : m_sysfsRoot(std::move(sysfsRoot)),
      m_devRoot(std::move(devRoot)),
      m_watchSource(std::move(watchSource)) {}

std::unique_ptr<HidWatch> LinuxHidPlatform::watch() {
    if (!m_watchSource) {
        setLastError(ENOTSUP);
        return nullptr;
    }
    errno = 0;
    std::unique_ptr<HidWatch> made = m_watchSource();
    if (!made) {
        setLastError(errno != 0 ? errno : ENOTSUP);
    }
    return made;
}

std::unique_ptr<HidInterfaceSet> LinuxHidPlatform::presentInterfaces() {
    const std::string classDir = m_sysfsRoot + "/class/hidraw";
    DIR* dir = ::opendir(classDir.c_str());
    if (dir == nullptr) {
        setLastError(errno);
        return nullptr;
    }
    std::vector<std::pair<unsigned, std::string>> found;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            break;
        }
        const std::string_view name(entry->d_name);
        if (const auto number = hidrawNumber(name)) {
            found.emplace_back(*number, name);
        }
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        // Half a listing would hide devices: no set at all is the honest answer.
        setLastError(readError);
        return nullptr;
    }
    std::sort(found.begin(), found.end());
    std::vector<HidrawEntry> entries;
    entries.reserve(found.size());
    for (const auto& entry : found) {
        entries.push_back({m_devRoot + "/" + entry.second, classDir + "/" + entry.second});
    }
    return std::make_unique<LinuxHidInterfaceSet>(std::move(entries));
}

std::unique_ptr<HidHandle> LinuxHidPlatform::open(const char* path, OpenMode mode) {
    if (path == nullptr) {
        setLastError(EINVAL);
        return nullptr;
    }
    // Opened without blocking, so that a node that is no hidraw node (a FIFO without a
    // reader, a terminal) cannot hang the open; writes then block again, to be whole.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    switch (mode) {
        case OpenMode::Probe:
            flags |= O_RDWR;
            break;
        case OpenMode::Write:
            flags |= O_WRONLY;
            break;
        case OpenMode::Read:
            flags |= O_RDONLY;
            break;
    }
    Fd device = openRetrying(path, flags);
    if (!device.valid()) {
        setLastError(errno);
        return nullptr;
    }
    if (mode != OpenMode::Read) {
        const int status = ::fcntl(device.get(), F_GETFL);
        if (status < 0 || ::fcntl(device.get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
            setLastError(errno);
            return nullptr;
        }
    }
    Fd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.valid()) {
        setLastError(errno);
        return nullptr;
    }

    // Where sysfs describes the node: a character device by its own number (also when
    // it is reached through a symlink of another name); otherwise by its name. None
    // for anything else: then only the node itself answers.
    std::string sysfsDir;
    struct stat st {};
    if (::fstat(device.get(), &st) == 0 && S_ISCHR(st.st_mode)) {
        sysfsDir = m_sysfsRoot + "/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                   std::to_string(minor(st.st_rdev));
    } else {
        std::string_view name(path);
        if (const std::size_t slash = name.rfind('/'); slash != std::string_view::npos) {
            name.remove_prefix(slash + 1);
        }
        if (hidrawNumber(name)) {
            sysfsDir = m_sysfsRoot + "/class/hidraw/" + std::string(name);
        }
    }

    auto handle =
        std::make_unique<LinuxHidHandle>(std::move(device), std::move(wake), std::move(sysfsDir));
    if (mode == OpenMode::Read) {
        // Without a readable descriptor reports are passed on as they come; such a
        // device has no capabilities, so discovery never takes it anyway.
        const std::uint32_t saved = t_lastError;
        std::vector<std::uint8_t> descriptor;
        if (handle->reportDescriptor(descriptor)) {
            if (const auto summary = parseReportDescriptor(descriptor)) {
                handle->setNumbered(summary->numbered);
            }
        }
        t_lastError = saved;
    }
    return handle;
}

namespace {

// /proc/locks lists every lock of the system; beyond this it is not worth reading.
constexpr std::size_t PROC_LOCKS_MAX_BYTES = 1 << 20;

// The flock on the node's own open file: the kernel drops it with the descriptor, also
// when the process dies.
class LinuxClaim final : public HidClaim {
public:
    explicit LinuxClaim(Fd fd) : m_fd(std::move(fd)) {}

private:
    Fd m_fd;
};

// Who holds the flock on the file open as `fd`: the kernel's lock list gives the pid,
// the process's comm its name. Either stays unknown where /proc does not tell.
ClaimHolder flockHolder(int fd) {
    ClaimHolder holder;
    struct stat st {};
    std::vector<std::uint8_t> text;
    if (::fstat(fd, &st) != 0 || !readSysfsFile("/proc/locks", PROC_LOCKS_MAX_BYTES, text)) {
        return holder;
    }
    const std::optional<std::uint32_t> pid =
        parseFlockHolder(asText(text), major(st.st_dev), minor(st.st_dev), st.st_ino);
    if (!pid) {
        return holder;
    }
    holder.pid = *pid;
    if (readSysfsFile("/proc/" + std::to_string(*pid) + "/comm", SYSFS_MAX_TEXT_BYTES, text)) {
        std::string_view comm = asText(text);
        if (!comm.empty() && comm.back() == '\n') {
            comm.remove_suffix(1);
        }
        holder.program = comm;
    }
    return holder;
}

}  // namespace

ClaimResult LinuxHidPlatform::claim(const char* path, const char* /*program*/) {
    ClaimResult result;
    if (path == nullptr) {
        setLastError(EINVAL);
        return result;
    }
    // An open file of its own: a lock on the channel's descriptors would be dropped by
    // whatever closes them, and a flock belongs to the open file, not the process.
    Fd fd = openRetrying(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (!fd.valid()) {
        setLastError(errno);
        return result;
    }
    int locked = 0;
    do {
        locked = ::flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked == 0) {
        result.status = ClaimStatus::Held;
        result.claim = std::make_unique<LinuxClaim>(std::move(fd));
    } else if (errno == EWOULDBLOCK) {
        result.status = ClaimStatus::Busy;
        result.holder = flockHolder(fd.get());
    } else {
        setLastError(errno);
    }
    return result;
}

std::uint32_t LinuxHidPlatform::lastError() const {
    return t_lastError;
}

void LinuxHidPlatform::sleepMs(std::uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
