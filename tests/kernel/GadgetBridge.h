// The device side of a gadget: a thread that reads the host's output reports from
// /dev/hidgN and hands each to a handler, and writes the reports queued with send() back
// to the host. It never blocks on the device: a report the host does not collect yet
// waits in the queue, so stopping is always prompt.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace kernel_harness {

class GadgetBridge {
public:
    using Bytes = std::vector<std::uint8_t>;
    // Called on the bridge thread with each output report as read from the device.
    using Handler = std::function<void(std::span<const std::uint8_t>)>;

    // Opens the device node and starts the thread; throws when the node does not open.
    GadgetBridge(const std::string& hidgPath, Handler handler);
    GadgetBridge(const GadgetBridge&) = delete;
    GadgetBridge& operator=(const GadgetBridge&) = delete;
    ~GadgetBridge();

    // Queues one input report for the host. Any thread.
    void send(std::span<const std::uint8_t> report);

    // Every report written to the device whole, in order.
    std::vector<Bytes> sent() const;
    // Reports dropped because the device refused them (after an unplug).
    int dropped() const;

private:
    void run();
    void wake();

    int m_fd = -1;
    int m_wakeFd = -1;
    Handler m_handler;
    mutable std::mutex m_mutex;
    std::deque<Bytes> m_queue;
    std::vector<Bytes> m_sent;
    int m_dropped = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace kernel_harness
