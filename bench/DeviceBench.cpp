// Figures of the device library on the simulated controller: how long closing a channel
// takes while its reader waits in a read, and how many reports per second pass through
// channel, queue and popReport. Arg 1: the real 10 ms reader pacing; arg 0: no pacing.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>

#include "device/HIDDevice.h"
#include "device/HIDOstrel.h"
#include "device/Wire.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"

namespace {

std::unique_ptr<HIDDevice> openChannel(platform::HidPlatform& platform, const std::string& path) {
    auto descriptor = std::make_unique<HIDDescriptor>();
    descriptor->path = path;
    descriptor->caps = {REPORT_SIZE, REPORT_SIZE, 0};
    return std::make_unique<HIDDevice>(platform, std::move(descriptor));
}

void waitUntil(const auto& condition) {
    while (!condition()) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

void BM_CloseWithReadPending(benchmark::State& state) {
    platform::SimHidPlatform platform;
    platform.setRealSleep(state.range(0) != 0);
    auto device = platform.addDevice(sim::SimulatedOstrel::identity());
    for (auto _ : state) {
        auto channel = openChannel(platform, device->identity().path);
        waitUntil([&] { return device->blockedReads() == 1; });
        const auto start = std::chrono::steady_clock::now();
        channel.reset();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
    }
}
BENCHMARK(BM_CloseWithReadPending)
    ->ArgName("pacing")
    ->Arg(1)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_ReportThroughput(benchmark::State& state) {
    const auto batch = static_cast<int>(state.range(1));
    platform::SimHidPlatform platform;
    platform.setRealSleep(state.range(0) != 0);
    auto device = platform.addDevice(sim::SimulatedOstrel::identity());
    auto channel = openChannel(platform, device->identity().path);
    HIDOstrel ostrel(channel.get());
    std::array<std::uint8_t, REPORT_SIZE> report{REPORT_STATUS};

    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) {
            device->queueInput(report);
        }
        for (int popped = 0; popped < batch;) {
            if (auto item = ostrel.popReport()) {
                benchmark::DoNotOptimize(item->data());
                ++popped;
            } else {
                std::this_thread::yield();
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_ReportThroughput)
    ->ArgNames({"pacing", "batch"})
    ->Args({1, 50})
    ->Iterations(4)
    ->Args({0, 20000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
