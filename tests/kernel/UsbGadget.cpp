#include "tests/kernel/UsbGadget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace kernel_harness {

namespace fs = std::filesystem;

namespace {

constexpr const char* GADGET_ROOT = "/sys/kernel/config/usb_gadget";
constexpr auto POLL_INTERVAL = std::chrono::milliseconds(20);

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(error));
}

std::string hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

// Waits until `probe` gives a non-empty answer or the limit passes.
template <typename Probe>
std::string waitFor(std::chrono::milliseconds limit, Probe probe) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::string found = probe();
        if (!found.empty() || std::chrono::steady_clock::now() >= deadline) {
            return found;
        }
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
}

}  // namespace

bool tryReadFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    content = text.str();
    return !in.bad();
}

std::string readFile(const std::string& path) {
    std::string content;
    if (!tryReadFile(path, content)) {
        fail("cannot read", path, errno);
    }
    return content;
}

// Configfs takes an attribute in one write() call; a stream could split it.
void writeFile(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        fail("cannot open", path, errno);
    }
    const ssize_t written = ::write(fd, content.data(), content.size());
    const int error = errno;
    ::close(fd);
    if (written < 0) {
        fail("cannot write", path, error);
    }
    if (static_cast<std::size_t>(written) != content.size()) {
        throw std::runtime_error("short write to " + path);
    }
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

UsbGadget::UsbGadget(GadgetConfig config)
    : m_config(std::move(config)), m_root(std::string(GADGET_ROOT) + "/" + m_config.name) {
    if (!fs::is_directory(GADGET_ROOT)) {
        throw std::runtime_error(std::string(GADGET_ROOT) +
                                 " is missing: configfs not mounted or libcomposite not loaded");
    }
    auto makeDir = [this](const std::string& path) {
        if (::mkdir(path.c_str(), 0755) != 0) {
            fail("cannot create", path, errno);
        }
        m_created.push_back(path);
    };
    try {
        makeDir(m_root);
        writeFile(m_root + "/idVendor", hex4(m_config.vendorId));
        writeFile(m_root + "/idProduct", hex4(m_config.productId));
        makeDir(m_root + "/strings/0x409");
        writeFile(m_root + "/strings/0x409/manufacturer", m_config.manufacturer);
        writeFile(m_root + "/strings/0x409/product", m_config.product);
        if (!m_config.serial.empty()) {
            writeFile(m_root + "/strings/0x409/serialnumber", m_config.serial);
        }

        const std::string function = m_root + "/functions/hid.usb0";
        makeDir(function);
        writeFile(function + "/protocol", "0");
        writeFile(function + "/subclass", "0");
        writeFile(function + "/report_length", std::to_string(m_config.reportLength));
        writeFile(function + "/report_desc",
                  std::string(m_config.reportDescriptor.begin(), m_config.reportDescriptor.end()));

        makeDir(m_root + "/configs/c.1");
        const std::string link = m_root + "/configs/c.1/hid.usb0";
        if (::symlink(function.c_str(), link.c_str()) != 0) {
            fail("cannot link", link, errno);
        }
        m_created.push_back(link);
    } catch (...) {
        remove();
        throw;
    }
}

UsbGadget::~UsbGadget() {
    remove();
}

std::string UsbGadget::udcName() const {
    return "dummy_udc." + std::to_string(m_config.udcIndex);
}

void UsbGadget::plug() {
    if (!fs::exists("/sys/class/udc/" + udcName())) {
        throw std::runtime_error("no UDC " + udcName() +
                                 ": is dummy_hcd loaded with num= enough for it?");
    }
    // The hidraw node of a gadget unplugged from this UDC just before may still be on its way
    // out; found after this plug, it would be taken for this one's.
    const bool gone = !waitFor(std::chrono::seconds(10), [this]() -> std::string {
                           return hidrawEntry().empty() ? "gone" : "";
                       }).empty();
    if (!gone) {
        throw std::runtime_error("the hidraw node " + hidrawEntry() +
                                 " of a gadget unplugged from " + udcName() + " never went");
    }
    writeFile(m_root + "/UDC", udcName());
    m_plugged = true;
}

void UsbGadget::unplug() {
    writeFile(m_root + "/UDC", "\n");
    m_plugged = false;
}

void UsbGadget::remove() noexcept {
    if (m_plugged) {
        const int fd = ::open((m_root + "/UDC").c_str(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0) {
            [[maybe_unused]] const ssize_t ignored = ::write(fd, "\n", 1);
            ::close(fd);
        }
        m_plugged = false;
    }
    // Configfs folders go in the reverse order of their making; a link is unlinked.
    // NOLINTNEXTLINE(modernize-loop-convert): std::views::reverse is beyond clang-tidy 14.
    for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
        struct stat info {};
        if (::lstat(it->c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
            ::unlink(it->c_str());
        } else {
            ::rmdir(it->c_str());
        }
    }
    m_created.clear();
}

std::string UsbGadget::waitForHidg(std::chrono::milliseconds limit) const {
    const std::string wanted = m_root + "/functions/hid.usb0/dev";
    return waitFor(limit, [&]() -> std::string {
        std::string number;
        if (!tryReadFile(wanted, number) || trimmed(number).empty()) {
            return {};
        }
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/sys/class/hidg", error)) {
            std::string dev;
            if (tryReadFile(entry.path().string() + "/dev", dev) &&
                trimmed(dev) == trimmed(number)) {
                const std::string node = "/dev/" + entry.path().filename().string();
                return fs::exists(node) ? node : std::string();
            }
        }
        return {};
    });
}

std::string UsbGadget::hidrawEntry() const {
    const std::string controller = "/dummy_hcd." + std::to_string(m_config.udcIndex) + "/";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/class/hidraw", error)) {
        const fs::path real = fs::canonical(entry.path(), error);
        if (!error && real.string().find(controller) != std::string::npos) {
            return entry.path().filename().string();
        }
    }
    return {};
}

std::string UsbGadget::findHidraw() const {
    const std::string entry = hidrawEntry();
    if (entry.empty() || !fs::exists("/dev/" + entry)) {
        return {};
    }
    return "/dev/" + entry;
}

std::string UsbGadget::waitForHidraw(std::chrono::milliseconds limit) const {
    return waitFor(limit, [this] { return findHidraw(); });
}

std::string UsbGadget::hidrawSysfs(const std::string& devicePath) {
    return "/sys/class/hidraw/" + fs::path(devicePath).filename().string();
}

}  // namespace kernel_harness
