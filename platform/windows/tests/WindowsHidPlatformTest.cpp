// The Windows backend against a real HID stack: Wine's, which has a "Wine HID mouse"
// (845E:0001) and a "Wine HID keyboard" (845E:0002) and no controller.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/ControllerWatch.h"
#include "device/HIDDevice.h"
#include "device/HIDDevices.h"
#include "device/tests/Recorder.h"
#include "platform/windows/WindowsHidPlatform.h"
#include "tests/support/Claims.h"

namespace {

using platform::ClaimResult;
using platform::ClaimStatus;
using platform::OpenMode;
using platform::Status;

constexpr std::uint16_t WINE_VENDOR_ID = 0x845E;
constexpr std::uint16_t WINE_MOUSE_ID = 0x0001;
constexpr std::uint16_t WINE_KEYBOARD_ID = 0x0002;
// A path of the HID class that names no present device: what a device that vanished
// after the enumeration leaves behind.
constexpr const char* VANISHED_PATH =
    R"(\\?\hid#vid_04d8&pid_0002#0&0&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030})";

struct Found {
    std::string path;
    std::string location;
    std::u16string manufacturer;
    std::u16string product;
    platform::HidCaps caps;
};

// Every present interface that answers the probe, by vendor and product id.
std::map<std::pair<std::uint16_t, std::uint16_t>, Found> probeAll(platform::HidPlatform& hid) {
    std::map<std::pair<std::uint16_t, std::uint16_t>, Found> found;
    const auto set = hid.presentInterfaces();
    EXPECT_TRUE(set) << "error " << hid.lastError();
    for (std::uint32_t index = 0; set && index < 256; ++index) {
        const Status status = set->interfaceAt(index);
        if (status == Status::NoMoreItems) {
            break;
        }
        std::size_t size = 0;
        EXPECT_EQ(status, Status::Ok);
        EXPECT_EQ(set->pathSize(index, size), Status::Ok);
        std::string path(size, '\0');
        EXPECT_EQ(set->path(index, path.data(), path.size()), Status::Ok);
        path.resize(size - 1);
        EXPECT_EQ(path.size(), std::char_traits<char>::length(path.c_str()));
        const auto probe = hid.open(path.c_str(), OpenMode::Probe);
        platform::HidAttributes attributes;
        if (!probe || !probe->attributes(attributes)) {
            continue;
        }
        Found entry{path, set->location(index), {}, {}, {}};
        char16_t text[256] = {};
        if (probe->manufacturerString(text, 256)) {
            entry.manufacturer = text;
        }
        if (probe->productString(text, 256)) {
            entry.product = text;
        }
        EXPECT_TRUE(probe->capabilities(entry.caps)) << path;
        found[{attributes.vendorId, attributes.productId}] = entry;
    }
    return found;
}

TEST(WindowsHid, DiscoveryWalksWinesDevicesAndTakesNone) {
    platform::WindowsHidPlatform hid;
    const auto found = probeAll(hid);
    for (const std::uint16_t id : {WINE_MOUSE_ID, WINE_KEYBOARD_ID}) {
        const auto device = found.find({WINE_VENDOR_ID, id});
        ASSERT_NE(device, found.end()) << "Wine's HID device " << id << " not enumerated";
        EXPECT_FALSE(device->second.manufacturer.empty());
        EXPECT_FALSE(device->second.product.empty());
        EXPECT_GT(device->second.caps.inputReportByteLength, 0);
        // They hang below Wine's own bus, not a USB port: the walk up finds no location.
        EXPECT_EQ(device->second.location, "") << device->second.path;
    }

    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    HIDDevices devices(hid, out);
    EXPECT_EQ(devices.find(OSTREL_MANUFACTURER, OSTREL_PRODUCT, OSTREL_PRODUCT_ID), nullptr);
    EXPECT_EQ(devices.find(OSTREL_MANUFACTURER, OSTREL_PRODUCT, OSTREL_PRODUCT_ID_ALT), nullptr);
    std::rewind(out);
    std::string text;
    for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) {
        text.push_back(static_cast<char>(c));
    }
    std::fclose(out);
    const std::string noDevice =
        "No device found - set the -manuf, -product, -vendor, -pid propperly:\n";
    EXPECT_EQ(text, noDevice + noDevice);
}

TEST(WindowsHid, ReadPendingOnAnotherThreadIsCancelled) {
    platform::WindowsHidPlatform hid;
    const auto found = probeAll(hid);
    const auto mouse = found.find({WINE_VENDOR_ID, WINE_MOUSE_ID});
    ASSERT_NE(mouse, found.end());

    // Shared with the reader, so that a reader that is never woken keeps what it uses.
    struct Pending {
        std::unique_ptr<platform::HidHandle> handle;
        std::vector<std::uint8_t> buffer;
        std::promise<platform::ReadResult> done;
    };
    auto pending = std::make_shared<Pending>();
    pending->handle = hid.open(mouse->second.path.c_str(), OpenMode::Read);
    ASSERT_TRUE(pending->handle) << "error " << hid.lastError();
    pending->buffer.resize(mouse->second.caps.inputReportByteLength);
    auto result = pending->done.get_future();
    std::thread reader([pending] {
        pending->done.set_value(
            pending->handle->read(pending->buffer.data(), pending->buffer.size()));
    });
    // Nobody moves Wine's mouse: the read stays pending until it is cancelled.
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    pending->handle->cancelRead();
    if (result.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
        reader.detach();
        FAIL() << "a read pending on another thread was not cancelled";
    }
    reader.join();
    const platform::ReadResult read = result.get();
    EXPECT_TRUE(read.waited);
    EXPECT_EQ(read.bytes, 0u);
    // Once cancelled, every read returns at once with nothing.
    EXPECT_EQ(pending->handle->read(pending->buffer.data(), pending->buffer.size()).bytes, 0u);
}

TEST(WindowsHid, ChannelClosesPromptlyWithReadPending) {
    platform::WindowsHidPlatform hid;
    const auto found = probeAll(hid);
    const auto mouse = found.find({WINE_VENDOR_ID, WINE_MOUSE_ID});
    ASSERT_NE(mouse, found.end());

    auto descriptor = std::make_unique<HIDDescriptor>();
    descriptor->path = mouse->second.path;
    descriptor->caps = mouse->second.caps;
    auto channel = std::make_unique<HIDDevice>(hid, std::move(descriptor));
    EXPECT_TRUE(channel->connected());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    const auto start = std::chrono::steady_clock::now();
    channel.reset();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    std::printf("[ FIGURE   ] close with a read pending: %lld ms\n",
                static_cast<long long>(elapsed));
    // The channel waits 5000 ms for a reader that was not woken.
    EXPECT_LT(elapsed, 5000);
}

// Bad paths, short buffers and handles asked for what their mode cannot do are refused,
// with an error for the diagnostics.
TEST(WindowsHid, RefusesCleanly) {
    platform::WindowsHidPlatform hid;
    for (const OpenMode mode : {OpenMode::Probe, OpenMode::Write, OpenMode::Read}) {
        EXPECT_EQ(hid.open(VANISHED_PATH, mode), nullptr);
        EXPECT_NE(hid.lastError(), 0u);
        EXPECT_EQ(hid.open(nullptr, mode), nullptr);
    }

    // A device gone before the channel opened it: no reports, failing writes, no
    // disconnect signal, a clean close.
    auto descriptor = std::make_unique<HIDDescriptor>();
    descriptor->path = VANISHED_PATH;
    descriptor->caps = {24, 24, 0};
    HIDDevice channel(hid, std::move(descriptor));
    Recorder recorder(&channel);
    EXPECT_FALSE(channel.connected());
    EXPECT_FALSE(channel.write(HArray(std::vector<std::uint8_t>{0xA1})));
    EXPECT_EQ(recorder.disconnects(), 0);

    const auto set = hid.presentInterfaces();
    ASSERT_TRUE(set);
    EXPECT_EQ(set->interfaceAt(100000), Status::NoMoreItems);
    EXPECT_EQ(set->location(100000), "");
    char tooSmall[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(set->path(0, tooSmall, sizeof tooSmall), Status::Failed);
    EXPECT_EQ(set->path(0, nullptr, 0), Status::Failed);

    const auto found = probeAll(hid);
    const auto keyboard = found.find({WINE_VENDOR_ID, WINE_KEYBOARD_ID});
    ASSERT_NE(keyboard, found.end());
    const auto probe = hid.open(keyboard->second.path.c_str(), OpenMode::Probe);
    ASSERT_TRUE(probe);
    char16_t one[1] = {u'x'};
    EXPECT_TRUE(probe->productString(one, 1));
    EXPECT_EQ(one[0], u'\0');
    std::uint8_t buffer[64] = {};
    // Only a handle opened for reading reads; it does not write.
    EXPECT_EQ(probe->read(buffer, sizeof buffer).bytes, 0u);
    const auto reader = hid.open(keyboard->second.path.c_str(), OpenMode::Read);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->write(buffer, sizeof buffer), platform::WriteStatus::Failed);
}

TEST(WindowsHid, AClaimIsANamedMutexOfThePathAndNamesItsHolder) {
    platform::WindowsHidPlatform hid;
    expectClaimsExclude(hid, R"(\\?\hid#vid_04d8&pid_0002#claim)", R"(\\?\hid#other)",
                        ::GetCurrentProcessId(), "ostrel");
    // Letter case makes no other device; a second claim on the holding thread, which the
    // mutex alone would let in, is refused too.
    const ClaimResult held = hid.claim(R"(\\?\hid#case)", "ostrel");
    EXPECT_EQ(held.status, ClaimStatus::Held);
    EXPECT_EQ(hid.claim(R"(\\?\HID#CASE)", "ostrelctl").status, ClaimStatus::Busy);
    EXPECT_EQ((*ClaimingThread(hid, R"(\\?\HID#CASE)", "ostrelctl")).status, ClaimStatus::Busy);
}

// The live set on Wine's HID stack: Wine has no CM_Register_Notification (or one that may
// refuse), so the watch searches by the clock; it finds no controller among Wine's devices,
// reports nothing, and a cancel from another thread ends a long wait.
TEST(WindowsHid, TheWatchRunsOnWinesDevicesAndIsCancelled) {
    platform::WindowsHidPlatform platform;
    std::unique_ptr<platform::HidWatch> notifications = platform.watch();
    if (!notifications) {
        const std::uint32_t error = platform.lastError();
        EXPECT_TRUE(error == ERROR_PROC_NOT_FOUND || error == ERROR_NOT_SUPPORTED) << error;
    } else {
        std::vector<std::string> departed;
        EXPECT_EQ(notifications->wait(0, departed), platform::WatchStatus::TimedOut);
        notifications->cancel();
        EXPECT_EQ(notifications->wait(60000, departed), platform::WatchStatus::Cancelled);
    }
    std::printf("[ NOTE     ] Windows watch: %s\n",
                notifications ? "CM_Register_Notification" : "searches every 250 ms");
    notifications.reset();

    ControllerWatch watch(platform);
    EXPECT_EQ(watch.polling(), !platform.watch());
    EXPECT_TRUE(watch.attached().empty());
    EXPECT_TRUE(watch.next(2 * ControllerWatch::POLL_INTERVAL).empty());
    auto waiting =
        std::async(std::launch::async, [&] { return watch.next(std::chrono::hours(1)); });
    watch.cancel();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(waiting.get().empty());
}

}  // namespace
