#include "platform/windows/WindowsHidPlatform.h"

// windows.h must come before the SetupAPI and HID headers.
// clang-format off
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
// The HID headers declare no C linkage of their own.
extern "C" {
#include <hidsdi.h>
}
// clang-format on

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/windows/LocationText.h"

namespace platform {

namespace {

// Bytes the HID class driver fills with a string (256 UTF-16 units).
constexpr std::size_t HID_STRING_BUFFER_BYTES = 512;
// Windows paths have at most 32767 characters.
constexpr DWORD MAX_DETAIL_BYTES = 0x10000;
// Device nodes between a HID collection and its USB device: interface, composite device,
// and room to spare; a longer walk is a broken tree.
constexpr int MAX_PARENT_STEPS = 8;

thread_local std::uint32_t t_lastError = 0;

// Keeps the error of the call that just failed, before anything else can overwrite it.
void keepLastError() {
    t_lastError = ::GetLastError();
}

void setLastError(DWORD error) {
    t_lastError = error;
}

bool valid(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

class WindowsHidInterfaceSet final : public HidInterfaceSet {
public:
    WindowsHidInterfaceSet(HDEVINFO set, const GUID& hidGuid) : m_set(set), m_guid(hidGuid) {}
    WindowsHidInterfaceSet(const WindowsHidInterfaceSet&) = delete;
    WindowsHidInterfaceSet& operator=(const WindowsHidInterfaceSet&) = delete;
    ~WindowsHidInterfaceSet() override { ::SetupDiDestroyDeviceInfoList(m_set); }

    Status interfaceAt(std::uint32_t index) override {
        SP_DEVICE_INTERFACE_DATA data;
        return enumerate(index, data);
    }

    Status pathSize(std::uint32_t index, std::size_t& size) override {
        SP_DEVICE_INTERFACE_DATA data;
        DWORD required = 0;
        if (const Status status = detailSize(index, data, required); status != Status::Ok) {
            return status;
        }
        size = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        return Status::Ok;
    }

    Status path(std::uint32_t index, char* buffer, std::size_t size) override {
        if (buffer == nullptr || size == 0) {
            setLastError(ERROR_INVALID_PARAMETER);
            return Status::Failed;
        }
        std::vector<DWORD> storage;
        if (const Status status = detail(index, storage, nullptr); status != Status::Ok) {
            return status;
        }
        const auto* record = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        // The storage is zeroed and one word longer than asked for, so the path ends in a
        // NUL inside it whatever the call wrote.
        const std::size_t room = storage.size() * sizeof(DWORD) -
                                 offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        const std::size_t length = strnlen(record->DevicePath, room - 1);
        if (length >= size) {
            setLastError(ERROR_INSUFFICIENT_BUFFER);
            return Status::Failed;
        }
        std::memcpy(buffer, record->DevicePath, length);
        buffer[length] = '\0';
        return Status::Ok;
    }

    // The location information of the USB device above the HID collection, as Device
    // Manager shows it ("Port_#0002.Hub_#0003"). A missing location is no failure of the
    // scan: the last error stays as it was.
    std::string location(std::uint32_t index) override {
        const std::uint32_t saved = t_lastError;
        std::string found;
        std::vector<DWORD> storage;
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (detail(index, storage, &device) == Status::Ok) {
            found = usbLocation(device.DevInst);
        }
        t_lastError = saved;
        return found;
    }

private:
    static std::string usbLocation(DEVINST node) {
        for (int step = 0; step < MAX_PARENT_STEPS; ++step) {
            char id[MAX_DEVICE_ID_LEN + 1] = {};
            if (::CM_Get_Device_IDA(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
                return {};
            }
            if (isUsbDeviceInstanceId(std::string_view(id, strnlen(id, MAX_DEVICE_ID_LEN)))) {
                wchar_t text[WINDOWS_LOCATION_MAX_CHARS + 2] = {};
                ULONG bytes = sizeof text;
                ULONG type = 0;
                if (::CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_LOCATION_INFORMATION, &type,
                                                        text, &bytes, 0) != CR_SUCCESS ||
                    type != REG_SZ) {
                    return {};
                }
                const std::size_t count = std::min<std::size_t>(bytes, sizeof text) / sizeof *text;
                std::u16string units(count, u'\0');
                std::transform(text, text + count, units.begin(),
                               [](wchar_t unit) { return static_cast<char16_t>(unit); });
                return locationFromRegistryText(units);
            }
            DEVINST parent = 0;
            if (::CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
                return {};
            }
            node = parent;
        }
        return {};
    }

    // The interface's whole detail record, in zeroed storage one word longer than the record,
    // and its device when `device` is given.
    Status detail(std::uint32_t index, std::vector<DWORD>& storage, SP_DEVINFO_DATA* device) {
        SP_DEVICE_INTERFACE_DATA data;
        DWORD required = 0;
        if (const Status status = detailSize(index, data, required); status != Status::Ok) {
            return status;
        }
        // Aligned for the record's size word; the path follows it.
        storage.assign((required + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
        auto* record = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        record->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        const auto storageBytes = static_cast<DWORD>(storage.size() * sizeof(DWORD));
        if (!::SetupDiGetDeviceInterfaceDetailA(m_set, &data, record, storageBytes, nullptr,
                                                device)) {
            keepLastError();
            return Status::Failed;
        }
        return Status::Ok;
    }

    Status enumerate(std::uint32_t index, SP_DEVICE_INTERFACE_DATA& data) {
        data = {};
        data.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
        if (::SetupDiEnumDeviceInterfaces(m_set, nullptr, &m_guid, index, &data)) {
            return Status::Ok;
        }
        keepLastError();
        return t_lastError == ERROR_NO_MORE_ITEMS ? Status::NoMoreItems : Status::Failed;
    }

    // The byte size of the interface's detail record, header included.
    Status detailSize(std::uint32_t index, SP_DEVICE_INTERFACE_DATA& data, DWORD& required) {
        if (const Status status = enumerate(index, data); status != Status::Ok) {
            return status;
        }
        required = 0;
        if (::SetupDiGetDeviceInterfaceDetailA(m_set, &data, nullptr, 0, &required, nullptr)) {
            // Success without a buffer is no answer.
            setLastError(ERROR_INVALID_DATA);
            return Status::Failed;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            keepLastError();
            return Status::Failed;
        }
        // A record that cannot hold its header and a NUL, or longer than any Windows path,
        // is not believed.
        if (required <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) ||
            required > MAX_DETAIL_BYTES) {
            setLastError(ERROR_INVALID_DATA);
            return Status::Failed;
        }
        return Status::Ok;
    }

    const HDEVINFO m_set;
    GUID m_guid;
};

class WindowsHidHandle final : public HidHandle {
public:
    // `readEvent` exists for a handle opened for overlapped reads only.
    WindowsHidHandle(HANDLE device, HANDLE readEvent) : m_device(device), m_readEvent(readEvent) {}
    WindowsHidHandle(const WindowsHidHandle&) = delete;
    WindowsHidHandle& operator=(const WindowsHidHandle&) = delete;
    ~WindowsHidHandle() override {
        ::CloseHandle(m_device);
        if (m_readEvent != nullptr) {
            ::CloseHandle(m_readEvent);
        }
    }

    bool attributes(HidAttributes& attributes) override {
        HIDD_ATTRIBUTES found{};
        found.Size = sizeof(HIDD_ATTRIBUTES);
        if (!::HidD_GetAttributes(m_device, &found)) {
            keepLastError();
            return false;
        }
        attributes.vendorId = found.VendorID;
        attributes.productId = found.ProductID;
        attributes.version = found.VersionNumber;
        return true;
    }

    bool manufacturerString(char16_t* buffer, std::size_t units) override {
        return hidString(&::HidD_GetManufacturerString, buffer, units);
    }

    bool productString(char16_t* buffer, std::size_t units) override {
        return hidString(&::HidD_GetProductString, buffer, units);
    }

    bool serialNumberString(char16_t* buffer, std::size_t units) override {
        return hidString(&::HidD_GetSerialNumberString, buffer, units);
    }

    bool capabilities(HidCaps& caps) override {
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        if (!::HidD_GetPreparsedData(m_device, &preparsed)) {
            keepLastError();
            return false;
        }
        HIDP_CAPS found{};
        const NTSTATUS status = ::HidP_GetCaps(preparsed, &found);
        ::HidD_FreePreparsedData(preparsed);
        if (status != HIDP_STATUS_SUCCESS) {
            setLastError(ERROR_INVALID_DATA);
            return false;
        }
        caps.inputReportByteLength = found.InputReportByteLength;
        caps.outputReportByteLength = found.OutputReportByteLength;
        caps.featureReportByteLength = found.FeatureReportByteLength;
        return true;
    }

    ReadResult read(std::uint8_t* buffer, std::size_t length) override {
        ReadResult result;
        if (m_readEvent == nullptr || buffer == nullptr || length == 0 ||
            length > std::numeric_limits<DWORD>::max()) {
            setLastError(ERROR_INVALID_PARAMETER);
            return result;
        }
        if (m_cancelled.load()) {
            setLastError(ERROR_OPERATION_ABORTED);
            return result;
        }
        m_overlapped = {};
        m_overlapped.hEvent = m_readEvent;
        DWORD count = 0;
        if (!::ReadFile(m_device, buffer, static_cast<DWORD>(length), &count, &m_overlapped)) {
            if (::GetLastError() != ERROR_IO_PENDING) {
                keepLastError();
                ::ResetEvent(m_readEvent);
                return result;
            }
            result.waited = true;
            // A cancel that came before the read was issued found nothing to cancel: it is
            // repeated here, so the read cannot wait for a report that may never come.
            if (m_cancelled.load()) {
                ::CancelIoEx(m_device, &m_overlapped);
            }
            // Waits for the read to complete or to be cancelled: on return the driver is
            // done with the buffer.
            if (!::GetOverlappedResult(m_device, &m_overlapped, &count, TRUE)) {
                keepLastError();
                ::ResetEvent(m_readEvent);
                return result;
            }
        }
        ::ResetEvent(m_readEvent);
        // More than asked for can only come from a broken driver: nothing is believed.
        if (count > length) {
            setLastError(ERROR_INVALID_DATA);
            return result;
        }
        result.bytes = count;
        return result;
    }

    void cancelRead() override {
        if (m_readEvent == nullptr) {
            return;
        }
        m_cancelled.store(true);
        // CancelIo would cancel only this thread's reads; the read belongs to the reader.
        ::CancelIoEx(m_device, &m_overlapped);
    }

    WriteStatus write(const std::uint8_t* data, std::size_t length) override {
        if (data == nullptr || length == 0 || length > std::numeric_limits<DWORD>::max()) {
            setLastError(ERROR_INVALID_PARAMETER);
            return WriteStatus::Failed;
        }
        DWORD written = 0;
        if (!::WriteFile(m_device, data, static_cast<DWORD>(length), &written, nullptr)) {
            keepLastError();
            return t_lastError == ERROR_DEVICE_NOT_CONNECTED ? WriteStatus::NotConnected
                                                             : WriteStatus::Failed;
        }
        if (written != length) {
            // Part of a report is no report.
            setLastError(ERROR_WRITE_FAULT);
            return WriteStatus::Failed;
        }
        return WriteStatus::Ok;
    }

private:
    using StringCall = BOOLEAN(__stdcall*)(HANDLE, PVOID, ULONG);

    // The driver's NUL-terminated UTF-16 into a 512-byte buffer, then as much as fits
    // into the caller's, always terminated.
    bool hidString(StringCall call, char16_t* buffer, std::size_t units) {
        if (buffer == nullptr || units == 0) {
            setLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        char16_t text[HID_STRING_BUFFER_BYTES / sizeof(char16_t)] = {};
        // The last unit stays 0 whatever the driver writes.
        if (!call(m_device, text, sizeof text - sizeof(char16_t))) {
            keepLastError();
            return false;
        }
        const std::size_t count = std::min(units - 1, std::char_traits<char16_t>::length(text));
        std::copy_n(text, count, buffer);
        buffer[count] = u'\0';
        return true;
    }

    const HANDLE m_device;
    const HANDLE m_readEvent;
    // The record of the read in progress; cancelRead() names it to CancelIoEx.
    OVERLAPPED m_overlapped{};
    std::atomic<bool> m_cancelled{false};
};

}  // namespace

std::unique_ptr<HidInterfaceSet> WindowsHidPlatform::presentInterfaces() {
    GUID hidGuid;
    ::HidD_GetHidGuid(&hidGuid);
    const HDEVINFO set =
        ::SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        keepLastError();
        return nullptr;
    }
    return std::make_unique<WindowsHidInterfaceSet>(set, hidGuid);
}

std::unique_ptr<HidHandle> WindowsHidPlatform::open(const char* path, OpenMode mode) {
    if (path == nullptr) {
        setLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD flags = 0;
    switch (mode) {
        case OpenMode::Probe:
            break;
        case OpenMode::Write:
            access = GENERIC_WRITE;
            break;
        case OpenMode::Read:
            access = GENERIC_READ;
            flags = FILE_FLAG_OVERLAPPED;
            break;
    }
    const HANDLE device = ::CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, flags, nullptr);
    if (!valid(device)) {
        keepLastError();
        return nullptr;
    }
    HANDLE readEvent = nullptr;
    if (mode == OpenMode::Read) {
        // Manual reset, as GetOverlappedResult expects of an overlapped read's event.
        readEvent = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
        if (readEvent == nullptr) {
            keepLastError();
            ::CloseHandle(device);
            return nullptr;
        }
    }
    return std::make_unique<WindowsHidHandle>(device, readEvent);
}

namespace {

// What the holder of a claim leaves for the others to read.
struct HolderRecord {
    DWORD pid;
    char program[60];  // NUL-terminated unless full
};

// The names of the claim's mutex and of its holder record: the device path, case folded,
// hashed (FNV-1a, 64 bits), since an object's name may hold no backslash. Local: one
// login session, where a user's programs run and where a user may create named objects.
std::string claimObjectName(const char* path, const char* kind) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char* c = path; *c != '\0'; ++c) {
        const char folded = (*c >= 'A' && *c <= 'Z') ? static_cast<char>(*c - 'A' + 'a') : *c;
        hash = (hash ^ static_cast<unsigned char>(folded)) * 0x100000001b3ull;
    }
    static constexpr char HEX[] = "0123456789abcdef";
    std::string name = "Local\\ostrel-claim-";
    for (int shift = 60; shift >= 0; shift -= 4) {
        name += HEX[(hash >> shift) & 0xF];
    }
    return name + kind;
}

// A process's own claims: a mutex is re-entrant for the thread that owns it, so a second
// claim by the same process must be refused here.
std::mutex g_ownClaimsMutex;
std::set<std::string> g_ownClaims;

ClaimHolder readHolder(const std::string& recordName) {
    ClaimHolder holder;
    const HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, recordName.c_str());
    if (mapping == nullptr) {
        return holder;
    }
    if (const void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(HolderRecord))) {
        HolderRecord record{};
        std::memcpy(&record, view, sizeof record);
        ::UnmapViewOfFile(view);
        holder.pid = record.pid;
        holder.program.assign(record.program, strnlen(record.program, sizeof record.program));
    }
    ::CloseHandle(mapping);
    return holder;
}

class WindowsClaim final : public HidClaim {
public:
    WindowsClaim(HANDLE mutex, HANDLE record, std::string name)
        : m_mutex(mutex), m_record(record), m_name(std::move(name)) {}
    WindowsClaim(const WindowsClaim&) = delete;
    WindowsClaim& operator=(const WindowsClaim&) = delete;
    ~WindowsClaim() override {
        if (m_record != nullptr) {
            ::CloseHandle(m_record);
        }
        ::ReleaseMutex(m_mutex);
        ::CloseHandle(m_mutex);
        std::lock_guard lock(g_ownClaimsMutex);
        g_ownClaims.erase(m_name);
    }

private:
    HANDLE m_mutex;
    HANDLE m_record;
    std::string m_name;
};

}  // namespace

ClaimResult WindowsHidPlatform::claim(const char* path, const char* program) {
    ClaimResult result;
    if (path == nullptr) {
        setLastError(ERROR_INVALID_PARAMETER);
        return result;
    }
    const std::string mutexName = claimObjectName(path, "");
    const std::string recordName = claimObjectName(path, "-holder");
    std::lock_guard lock(g_ownClaimsMutex);
    if (g_ownClaims.count(mutexName) != 0) {
        result.status = ClaimStatus::Busy;
        result.holder = readHolder(recordName);
        return result;
    }
    const HANDLE mutex = ::CreateMutexA(nullptr, FALSE, mutexName.c_str());
    if (mutex == nullptr) {
        keepLastError();
        return result;
    }
    const DWORD waited = ::WaitForSingleObject(mutex, 0);
    if (waited == WAIT_TIMEOUT) {
        ::CloseHandle(mutex);
        result.status = ClaimStatus::Busy;
        result.holder = readHolder(recordName);
        return result;
    }
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {  // abandoned: its holder died
        keepLastError();
        ::CloseHandle(mutex);
        return result;
    }
    // The record only names the holder; a claim without one is still a claim.
    HANDLE record = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                         sizeof(HolderRecord), recordName.c_str());
    if (record != nullptr) {
        if (void* view = ::MapViewOfFile(record, FILE_MAP_WRITE, 0, 0, sizeof(HolderRecord))) {
            HolderRecord mine{};
            mine.pid = ::GetCurrentProcessId();
            if (program != nullptr) {
                std::memcpy(mine.program, program, strnlen(program, sizeof mine.program));
            }
            std::memcpy(view, &mine, sizeof mine);
            ::UnmapViewOfFile(view);
        }
    }
    g_ownClaims.insert(mutexName);
    result.status = ClaimStatus::Held;
    result.claim = std::make_unique<WindowsClaim>(mutex, record, mutexName);
    return result;
}

namespace {

using RegisterNotification = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK,
                                                PHCMNOTIFICATION);
using UnregisterNotification = CONFIGRET(WINAPI*)(HCMNOTIFICATION);

// What the configuration manager's thread hands the waiting one.
struct NotificationState {
    HANDLE changed = nullptr;  // auto-reset: set by a notification, taken by a wait
    std::mutex mutex;
    std::vector<std::string> departed;
};

// A removed interface's symbolic link, as its path is spelled (ASCII; Windows compares
// paths without regard to case). The link ends at its NUL or at the end of the event data.
std::string linkText(const CM_NOTIFY_EVENT_DATA& data, DWORD size) {
    constexpr std::size_t OFFSET = offsetof(CM_NOTIFY_EVENT_DATA, u.DeviceInterface.SymbolicLink);
    if (size <= OFFSET) {
        return {};
    }
    const std::size_t units =
        std::min<std::size_t>((size - OFFSET) / sizeof(WCHAR), MAX_DETAIL_BYTES);
    std::string text;
    for (std::size_t i = 0; i < units && data.u.DeviceInterface.SymbolicLink[i] != 0; ++i) {
        const WCHAR unit = data.u.DeviceInterface.SymbolicLink[i];
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
}

DWORD CALLBACK onInterfaceChange(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION action,
                                 PCM_NOTIFY_EVENT_DATA data, DWORD size) {
    auto* state = static_cast<NotificationState*>(context);
    if (action == CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL && data != nullptr &&
        data->FilterType == CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE) {
        std::string path = linkText(*data, size);
        if (!path.empty()) {
            std::lock_guard lock(state->mutex);
            state->departed.push_back(std::move(path));
        }
    }
    if (action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL ||
        action == CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL) {
        ::SetEvent(state->changed);
    }
    return ERROR_SUCCESS;
}

class WindowsHidWatch final : public HidWatch {
public:
    WindowsHidWatch(std::unique_ptr<NotificationState> state, HANDLE cancelled,
                    HCMNOTIFICATION notification, UnregisterNotification unregister)
        : m_state(std::move(state)),
          m_cancelled(cancelled),
          m_notification(notification),
          m_unregister(unregister) {}
    WindowsHidWatch(const WindowsHidWatch&) = delete;
    WindowsHidWatch& operator=(const WindowsHidWatch&) = delete;
    ~WindowsHidWatch() override {
        // Returns once no callback is running any more: the state may go then.
        m_unregister(m_notification);
        ::CloseHandle(m_state->changed);
        ::CloseHandle(m_cancelled);
    }

    WatchStatus wait(std::uint32_t timeoutMs, std::vector<std::string>& departed) override {
        // Cancellation first: of two signalled handles the wait names the lower index.
        const HANDLE handles[2] = {m_cancelled, m_state->changed};
        switch (::WaitForMultipleObjects(2, handles, FALSE, timeoutMs)) {
            case WAIT_OBJECT_0:
                return WatchStatus::Cancelled;
            case WAIT_OBJECT_0 + 1: {
                std::lock_guard lock(m_state->mutex);
                departed.insert(departed.end(), m_state->departed.begin(), m_state->departed.end());
                m_state->departed.clear();
                return WatchStatus::Changed;
            }
            case WAIT_TIMEOUT:
                return WatchStatus::TimedOut;
            default:
                keepLastError();
                return WatchStatus::Failed;
        }
    }

    void cancel() override { ::SetEvent(m_cancelled); }

private:
    const std::unique_ptr<NotificationState> m_state;
    const HANDLE m_cancelled;  // manual reset: once set, every wait sees it
    const HCMNOTIFICATION m_notification;
    const UnregisterNotification m_unregister;
};

// A function of cfgmgr32.dll that older systems lack, looked up rather than imported.
template <typename Function>
Function cfgmgrFunction(const char* name) {
    HMODULE module = ::GetModuleHandleW(L"cfgmgr32.dll");
    if (module == nullptr) {
        module = ::LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    if (module == nullptr) {
        return nullptr;
    }
    // Through void (*)(), which converts to and from every function pointer type.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

}  // namespace

std::unique_ptr<HidWatch> WindowsHidPlatform::watch() {
    const auto registerNotification =
        cfgmgrFunction<RegisterNotification>("CM_Register_Notification");
    const auto unregisterNotification =
        cfgmgrFunction<UnregisterNotification>("CM_Unregister_Notification");
    if (registerNotification == nullptr || unregisterNotification == nullptr) {
        setLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    auto state = std::make_unique<NotificationState>();
    state->changed = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE cancelled = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (state->changed == nullptr || cancelled == nullptr) {
        keepLastError();
        if (state->changed != nullptr) {
            ::CloseHandle(state->changed);
        }
        if (cancelled != nullptr) {
            ::CloseHandle(cancelled);
        }
        return nullptr;
    }
    CM_NOTIFY_FILTER filter{};
    filter.cbSize = sizeof filter;
    filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
    ::HidD_GetHidGuid(&filter.u.DeviceInterface.ClassGuid);
    HCMNOTIFICATION notification = nullptr;
    const CONFIGRET result =
        registerNotification(&filter, state.get(), &onInterfaceChange, &notification);
    if (result != CR_SUCCESS) {
        // The configuration manager's own codes are no system error codes.
        setLastError(ERROR_NOT_SUPPORTED);
        ::CloseHandle(state->changed);
        ::CloseHandle(cancelled);
        return nullptr;
    }
    return std::make_unique<WindowsHidWatch>(std::move(state), cancelled, notification,
                                             unregisterNotification);
}

std::uint32_t WindowsHidPlatform::lastError() const {
    return t_lastError;
}

void WindowsHidPlatform::sleepMs(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

}  // namespace platform
