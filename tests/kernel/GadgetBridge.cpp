#include "tests/kernel/GadgetBridge.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kernel_harness {

GadgetBridge::GadgetBridge(const std::string& hidgPath, Handler handler)
    : m_handler(std::move(handler)) {
    m_fd = ::open(hidgPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        throw std::runtime_error("cannot open " + hidgPath + ": " + std::strerror(errno));
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        const int error = errno;
        ::close(m_fd);
        throw std::runtime_error(std::string("eventfd: ") + std::strerror(error));
    }
    m_thread = std::thread([this] { run(); });
}

GadgetBridge::~GadgetBridge() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    wake();
    m_thread.join();
    ::close(m_wakeFd);
    ::close(m_fd);
}

void GadgetBridge::send(std::span<const std::uint8_t> report) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.emplace_back(report.begin(), report.end());
    }
    wake();
}

std::vector<GadgetBridge::Bytes> GadgetBridge::sent() const {
    std::lock_guard lock(m_mutex);
    return m_sent;
}

int GadgetBridge::dropped() const {
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

void GadgetBridge::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(m_wakeFd, &one, sizeof one);
}

void GadgetBridge::run() {
    // Once the device fails a read (it was unplugged) it is only written to, so that a
    // gone device cannot make the loop spin.
    bool readable = true;
    std::array<std::uint8_t, 256> buffer{};
    for (;;) {
        bool pending = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) {
                return;
            }
            pending = !m_queue.empty();
        }
        const short events = static_cast<short>((readable ? POLLIN : 0) | (pending ? POLLOUT : 0));
        pollfd fds[2] = {{events != 0 ? m_fd : -1, events, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t ignored = ::read(m_wakeFd, &count, sizeof count);
        }
        const short revents = fds[0].revents;
        if (readable && (revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            const ssize_t n = ::read(m_fd, buffer.data(), buffer.size());
            if (n > 0) {
                m_handler(
                    std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR) || (revents & POLLIN) == 0) {
                readable = false;
            }
        }
        if (pending && (revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            Bytes report;
            {
                std::lock_guard lock(m_mutex);
                report = m_queue.front();
            }
            const ssize_t n = ::write(m_fd, report.data(), report.size());
            // Not ready after all: wait for the next POLLOUT. An error condition that
            // refuses the write drops the report instead of retrying it forever.
            if (n < 0 && (errno == EAGAIN || errno == EINTR) && (revents & POLLOUT) != 0) {
                continue;
            }
            std::lock_guard lock(m_mutex);
            m_queue.pop_front();
            if (n == static_cast<ssize_t>(report.size())) {
                m_sent.push_back(std::move(report));
            } else {
                ++m_dropped;
            }
        }
    }
}

}  // namespace kernel_harness
