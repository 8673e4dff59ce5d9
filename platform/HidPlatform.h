// The narrow window through which the device library sees the operating system's HID
// devices. Implementations: platform/linux (sysfs and hidraw), platform/windows (SetupAPI
// and the HID class driver) and platform/sim (in memory, for tests and the demo program).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class Status {
    Ok,
    Failed,       // lastError() tells why
    NoMoreItems,  // an index past the last interface of a set
};

struct HidAttributes {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t version = 0;
};

// Report byte lengths as the device library counts them: the report-id byte is included
// whether or not the device numbers its reports (a device with 23-byte reports has 24).
struct HidCaps {
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
};

enum class OpenMode {
    Probe,  // reading and writing, for discovery's questions
    Write,  // writing reports
    Read,   // reading reports, with a wait that cancelRead() ends
};

struct ReadResult {
    std::size_t bytes = 0;  // 0 when nothing usable arrived
    bool waited = false;    // the read had to wait for the device
};

enum class WriteStatus {
    Ok,
    NotConnected,  // the device is gone
    Failed,        // any other failure
};

// An open device path. Buffers are in one layout for every platform: byte 0 is the
// report-id position (0 for a device that does not number its reports), followed by
// the report's payload.
class HidHandle {
public:
    virtual ~HidHandle() = default;

    virtual bool attributes(HidAttributes& attributes) = 0;
    // NUL-terminated UTF-16 into `units` code units; false when the device has no such
    // string. A longer string is cut to fit; the terminator may then be missing.
    virtual bool manufacturerString(char16_t* buffer, std::size_t units) = 0;
    virtual bool productString(char16_t* buffer, std::size_t units) = 0;
    // The USB serial number string, the same way; false when the device has none (or the
    // system does not tell, as for a device on no USB port).
    virtual bool serialNumberString(char16_t* buffer, std::size_t units) = 0;
    virtual bool capabilities(HidCaps& caps) = 0;

    // One input report of at most `length` bytes. Blocks until a report arrives, the
    // device is gone, or cancelRead() is called; after cancelRead() every read returns
    // at once with nothing.
    virtual ReadResult read(std::uint8_t* buffer, std::size_t length) = 0;
    // Wakes a read blocked on another thread. Safe to call from any thread.
    virtual void cancelRead() = 0;

    // One whole output report, synchronously.
    virtual WriteStatus write(const std::uint8_t* data, std::size_t length) = 0;
};

// The HID interfaces present when the set was taken, in a stable order.
class HidInterfaceSet {
public:
    virtual ~HidInterfaceSet() = default;

    // Ok when interface `index` exists, NoMoreItems past the last one.
    virtual Status interfaceAt(std::uint32_t index) = 0;
    // Bytes needed for the interface's NUL-terminated device path.
    virtual Status pathSize(std::uint32_t index, std::size_t& size) = 0;
    // The NUL-terminated device path into `buffer` of `size` bytes.
    virtual Status path(std::uint32_t index, char* buffer, std::size_t size) = 0;
    // Where the interface's USB device is plugged, in the system's own words: the same
    // after a reboot or after replugging into the same port, different for another port
    // ("1-1.4.2" on Linux, "Port_#0002.Hub_#0003" on Windows). Empty when the system does
    // not tell, as for a device on no USB port.
    virtual std::string location(std::uint32_t index) = 0;
};

// Who holds a claim, as far as the system can tell.
struct ClaimHolder {
    std::string program;    // empty when unknown
    std::uint32_t pid = 0;  // 0 when unknown
};

enum class ClaimStatus {
    Held,    // this process now holds the claim
    Busy,    // another holder has it
    Failed,  // the claim could not be tried; lastError() tells why
};

// A claim held on one device: released when destroyed. Destroy it on the thread that took
// it (a Windows mutex belongs to its thread) and before the platform.
class HidClaim {
public:
    virtual ~HidClaim() = default;
};

struct ClaimResult {
    ClaimStatus status = ClaimStatus::Failed;
    std::unique_ptr<HidClaim> claim;  // set when Held
    ClaimHolder holder;               // when Busy: who holds it
};

enum class WatchStatus {
    Changed,    // interfaces may have come or gone: take a new set and compare
    TimedOut,   // nothing happened within the wait
    Cancelled,  // cancel() was called
    Failed,     // the notifications broke down for good; lastError() tells why
};

// The system's word that HID interfaces came or went. It says that something changed, not
// what: whoever watches takes presentInterfaces() again and compares. Notifications that
// arrive between two waits are kept for the next one.
class HidWatch {
public:
    virtual ~HidWatch() = default;

    // Waits up to `timeoutMs` for a change since the last wait (or since the watch was
    // made). On Changed, appends to `departed` the paths of interfaces that went, where the
    // system names them: a path that went and came back between two sets is a device
    // replugged, which the sets alone cannot tell from one that stayed. One thread at a time.
    virtual WatchStatus wait(std::uint32_t timeoutMs, std::vector<std::string>& departed) = 0;
    // Ends a wait in progress on another thread, and makes every later one return
    // Cancelled at once. Safe to call from any thread.
    virtual void cancel() = 0;
};

class HidPlatform {
public:
    virtual ~HidPlatform() = default;

    // Null when the set of present interfaces cannot be had.
    virtual std::unique_ptr<HidInterfaceSet> presentInterfaces() = 0;
    // Null when the path cannot be opened in that mode.
    virtual std::unique_ptr<HidHandle> open(const char* path, OpenMode mode) = 0;
    // The error code of the calling thread's last failed call, for diagnostic lines.
    virtual std::uint32_t lastError() const = 0;
    // Pauses the calling thread (the reader's pacing).
    virtual void sleepMs(std::uint32_t milliseconds) = 0;
    // Tries, without waiting, to claim the device at `path` for this process alone among
    // the programs that claim before they talk to a device. Open handles are not affected:
    // the claim keeps our programs from talking to one device at once, it locks out nobody
    // else. `program` names this process to others where the system cannot tell them.
    virtual ClaimResult claim(const char* path, const char* program) = 0;
    // Notifications of interfaces coming and going, from now on. Null where the system
    // gives none (or they cannot be had here): then only comparing sets taken every so
    // often tells. Destroy the watch before the platform.
    virtual std::unique_ptr<HidWatch> watch() { return nullptr; }
};

}  // namespace platform
