#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/HIDDevices.h"
#include "platform/linux/LinuxHidPlatform.h"
#include "platform/linux/tests/FakeTree.h"
#include "tests/support/Claims.h"

namespace {

using namespace platform;
using namespace testdata;

constexpr std::size_t REPORT = 24;

std::vector<std::string> listPaths(HidInterfaceSet& set) {
    std::vector<std::string> paths;
    for (std::uint32_t i = 0; set.interfaceAt(i) == Status::Ok; ++i) {
        std::size_t size = 0;
        EXPECT_EQ(set.pathSize(i, size), Status::Ok);
        std::string path(size, '?');
        EXPECT_EQ(set.path(i, path.data(), size), Status::Ok);
        EXPECT_EQ(path.back(), '\0');
        path.pop_back();
        paths.push_back(path);
    }
    return paths;
}

std::u16string manufacturerOf(HidHandle& handle, std::size_t units = 256) {
    std::vector<char16_t> buffer(units, u'#');
    if (!handle.manufacturerString(buffer.data(), units)) {
        return u"<none>";
    }
    return std::u16string(buffer.data());
}

std::array<std::uint8_t, REPORT> report(std::uint8_t id, std::uint8_t seed) {
    std::array<std::uint8_t, REPORT> r{};
    r[0] = id;
    for (std::size_t i = 1; i < REPORT; ++i) {
        r[i] = static_cast<std::uint8_t>(seed + i);
    }
    return r;
}

// Waits until thread `tid` sits in a poll that waits without a time limit, so that a
// test knows a read really had to wait.
bool waitUntilBlockedInPoll(pid_t tid) {
    const std::string file = "/proc/self/task/" + std::to_string(tid) + "/syscall";
    for (int i = 0; i < 10000; ++i) {
        std::ifstream in(file);
        std::string number, fds, nfds, timeout;
        in >> number >> fds >> nfds >> timeout;
        if ((number == std::to_string(SYS_poll) && timeout != "0x0") ||
            (number == std::to_string(SYS_ppoll) && timeout == "0x0")) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

class LinuxPlatform : public ::testing::Test {
protected:
    FakeTree tree;
    LinuxHidPlatform platform{tree.sys().string(), tree.dev().string()};
};

TEST_F(LinuxPlatform, ListsHidrawEntriesByNumber) {
    for (unsigned n : {10u, 2u, 0u}) {
        FakeDevice d;
        d.number = n;
        tree.add(d);
    }
    // Names the kernel never gives a hidraw node are not devices.
    for (const char* junk : {"hidraw", "hidrawx", "hidraw01", "hidraw-1", "mouse0"}) {
        fs::create_directory(tree.sys() / "class/hidraw" / junk);
    }
    auto set = platform.presentInterfaces();
    ASSERT_NE(set, nullptr);
    const std::string dev = tree.dev().string();
    EXPECT_EQ(listPaths(*set),
              (std::vector<std::string>{dev + "/hidraw0", dev + "/hidraw2", dev + "/hidraw10"}));
    EXPECT_EQ(set->interfaceAt(3), Status::NoMoreItems);
    std::size_t size = 0;
    EXPECT_EQ(set->pathSize(3, size), Status::NoMoreItems);

    char small[8];
    EXPECT_EQ(set->path(0, small, sizeof small), Status::Failed);
    EXPECT_EQ(platform.lastError(), static_cast<std::uint32_t>(ERANGE));
}

TEST_F(LinuxPlatform, LocationIsThePortChainOfTheUsbDevice) {
    const struct {
        std::string usbPort;
        bool usbParent;
        std::optional<std::string> usbUevent;
        std::string location;
    } cases[] = {
        {"1-2", true, USB_DEVICE_UEVENT, "1-2"},          // a root port
        {"3-1.4.2", true, USB_DEVICE_UEVENT, "3-1.4.2"},  // behind two hubs
        {"", false, USB_DEVICE_UEVENT, ""},               // no USB device above it
        {"", true, "DEVTYPE=usb_interface\n", ""},        // the parent is no USB device
        {"", true, std::nullopt, ""},
        {"usb7", true, USB_DEVICE_UEVENT, ""},  // a name the kernel gives no USB device
    };
    for (unsigned i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        FakeTree each;
        FakeDevice d;
        d.usbPort = cases[i].usbPort;
        d.usbParent = cases[i].usbParent;
        d.usbUevent = cases[i].usbUevent;
        each.add(d);
        LinuxHidPlatform local(each.sys().string(), each.dev().string());
        auto set = local.presentInterfaces();
        ASSERT_NE(set, nullptr);
        EXPECT_EQ(set->location(0), cases[i].location);
        EXPECT_EQ(set->location(1), "");
    }
}

TEST_F(LinuxPlatform, EmptyClassFolderIsAnEmptySet) {
    auto set = platform.presentInterfaces();
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->interfaceAt(0), Status::NoMoreItems);
}

TEST_F(LinuxPlatform, UnreadableClassFolderGivesNoSet) {
    fs::remove_all(tree.sys() / "class/hidraw");
    EXPECT_EQ(platform.presentInterfaces(), nullptr);
    EXPECT_EQ(platform.lastError(), static_cast<std::uint32_t>(ENOENT));

    writeFile(tree.sys() / "class/hidraw", std::string("not a folder"));
    EXPECT_EQ(platform.presentInterfaces(), nullptr);
    EXPECT_EQ(platform.lastError(), static_cast<std::uint32_t>(ENOTDIR));
}

TEST_F(LinuxPlatform, ProbeSeesTheGadgetAsDiscoveryNeedsIt) {
    const auto added = tree.add(FakeDevice{});
    auto handle = platform.open(added.node.c_str(), OpenMode::Probe);
    ASSERT_NE(handle, nullptr);

    HidAttributes attributes;
    ASSERT_TRUE(handle->attributes(attributes));
    EXPECT_EQ(attributes.vendorId, 0x04D8);
    EXPECT_EQ(attributes.productId, 0x0002);
    EXPECT_EQ(attributes.version, 0x0100);

    EXPECT_EQ(manufacturerOf(*handle), u"TAVREN INC");
    std::array<char16_t, 256> product{};
    ASSERT_TRUE(handle->productString(product.data(), product.size()));
    EXPECT_EQ(std::u16string(product.data()), u"Ostrel PSU");

    HidCaps caps;
    ASSERT_TRUE(handle->capabilities(caps));
    EXPECT_EQ(caps.inputReportByteLength, 24);
    EXPECT_EQ(caps.outputReportByteLength, 24);
    EXPECT_EQ(caps.featureReportByteLength, 0);
}

TEST_F(LinuxPlatform, ProbeSeesOtherDevices) {
    FakeDevice keyboard;
    keyboard.number = 1;
    keyboard.uevent = "HID_ID=0003:0000046D:0000C31C\nHID_NAME=Logitech USB Keyboard\n";
    keyboard.descriptor = bootKeyboard();
    keyboard.manufacturer = "Logitech\n";
    keyboard.bcdDevice = std::nullopt;
    FakeDevice mouse;  // on no USB bus: it has no strings
    mouse.number = 2;
    mouse.usbParent = false;
    mouse.uevent = "HID_ID=0005:0000046D:0000B016\n";
    mouse.descriptor = bootMouse();
    const auto k = tree.add(keyboard);
    const auto m = tree.add(mouse);

    auto kh = platform.open(k.node.c_str(), OpenMode::Probe);
    ASSERT_NE(kh, nullptr);
    HidAttributes attributes;
    ASSERT_TRUE(kh->attributes(attributes));
    EXPECT_EQ(attributes.vendorId, 0x046D);
    EXPECT_EQ(attributes.productId, 0xC31C);
    EXPECT_EQ(attributes.version, 0);
    EXPECT_EQ(manufacturerOf(*kh), u"Logitech");
    HidCaps caps;
    ASSERT_TRUE(kh->capabilities(caps));
    EXPECT_EQ(caps.inputReportByteLength, 9);
    EXPECT_EQ(caps.outputReportByteLength, 2);

    auto mh = platform.open(m.node.c_str(), OpenMode::Probe);
    ASSERT_NE(mh, nullptr);
    ASSERT_TRUE(mh->attributes(attributes));
    EXPECT_EQ(attributes.productId, 0xB016);
    EXPECT_EQ(manufacturerOf(*mh), u"<none>");
    EXPECT_NE(platform.lastError(), 0u);
    ASSERT_TRUE(mh->capabilities(caps));
    EXPECT_EQ(caps.inputReportByteLength, 4);
    EXPECT_EQ(caps.outputReportByteLength, 0);
}

TEST_F(LinuxPlatform, StringsAreDecodedAndCutToTheBuffer) {
    FakeDevice d;
    d.manufacturer = "Z\xC3\xBCrich \xFF!\n";
    const auto added = tree.add(d);
    auto handle = platform.open(added.node.c_str(), OpenMode::Probe);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(manufacturerOf(*handle), u"Z\u00FCrich \uFFFD!");
    EXPECT_EQ(manufacturerOf(*handle, 4), u"Z\u00FCr");  // cut, still terminated
    char16_t one = u'#';
    EXPECT_TRUE(handle->manufacturerString(&one, 1));
    EXPECT_EQ(one, u'\0');
    EXPECT_FALSE(handle->manufacturerString(&one, 0));
}

// The serial attribute is the device's text: discovery takes it only whole, clean and as
// long as a USB string descriptor can be, else the controller is taken without one.
TEST_F(LinuxPlatform, DiscoveryTakesOnlyACleanSerial) {
    struct Case {
        const char* name;
        std::optional<std::string> file;  // the attribute's content; none: no such file
        bool fifo;
        std::string serial;  // what discovery gives
    };
    const Case cases[] = {
        {"none", std::nullopt, false, ""},
        {"plain", "A1B2-0042\n", false, "A1B2-0042"},
        {"UTF-8", "Z\xC3\xBCrich \xF0\x9F\x94\x8C\n", false, "Z\xC3\xBCrich \xF0\x9F\x94\x8C"},
        {"empty", "\n", false, ""},
        {"126 characters", std::string(126, 'S') + "\n", false, std::string(126, 'S')},
        {"127 characters", std::string(127, 'S') + "\n", false, ""},
        {"over the file bound", std::string(1 << 20, 'S'), false, ""},
        {"not UTF-8", "SN\xFF!\n", false, ""},
        {"escape sequence", "SN\x1b[2J\n", false, ""},
        {"inner newline", "SN\n1\n", false, ""},
        {"C1 control", "SN\xC2\x9B\n", false, ""},
        {"a FIFO", std::nullopt, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTree own;
        FakeDevice d;
        d.serial = c.file;
        const auto added = own.add(d);
        if (c.fifo) {
            ASSERT_EQ(::mkfifo((added.usbDevice / "serial").c_str(), 0600), 0);
        }
        LinuxHidPlatform here(own.sys().string(), own.dev().string());
        HIDDevices devices(here, nullptr);
        const auto found = findAllOstrels(devices);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0]->serial, c.serial);
    }
}

// Each case spoils one file of an otherwise good gadget; the probe must then fail the
// one question that file answers, quickly and without a crash.
struct SpoiledCase {
    const char* name;
    void (*spoil)(FakeDevice&, const FakeTree::Added*);
    bool attributes;
    bool strings;
    bool caps;
    friend void PrintTo(const SpoiledCase& c, std::ostream* os) { *os << c.name; }
};

void hostileDescriptor(FakeDevice& d, const FakeTree::Added*) {
    d.descriptor = Bytes{0x75, 0x08, 0x95, 0x17, 0xB4, 0x81, 0x02};
}

const SpoiledCase SPOILED_CASES[] = {
    {"NoUevent", [](FakeDevice& d, const FakeTree::Added*) { d.uevent.reset(); }, false, true,
     true},
    {"MalformedHidId",
     [](FakeDevice& d, const FakeTree::Added*) { d.uevent = "HID_ID=0003:04D8\n"; }, false, true,
     true},
    {"HidIdBeyond16Bits",
     [](FakeDevice& d, const FakeTree::Added*) { d.uevent = "HID_ID=0003:000104D8:2\n"; }, false,
     true, true},
    {"NoDescriptor", [](FakeDevice& d, const FakeTree::Added*) { d.descriptor.reset(); }, true,
     true, false},
    {"HostileDescriptor", hostileDescriptor, true, true, false},
    {"OversizedDescriptor",
     [](FakeDevice& d, const FakeTree::Added*) { d.descriptor = Bytes(5000, 0x00); }, true, true,
     false},
    {"NoManufacturer", [](FakeDevice& d, const FakeTree::Added*) { d.manufacturer.reset(); }, true,
     false, true},
    {"HugeManufacturer",
     [](FakeDevice& d, const FakeTree::Added*) { d.manufacturer = std::string(1 << 20, 'A'); },
     true, false, true},
    {"ParentIsNoUsbDevice",
     [](FakeDevice& d, const FakeTree::Added*) { d.usbUevent = "DEVTYPE=usb_interface\n"; }, true,
     false, true},
    {"DescriptorIsAFifo",
     [](FakeDevice&, const FakeTree::Added* a) {
         if (a != nullptr) {
             fs::remove(a->hidDevice / "report_descriptor");
             ASSERT_EQ(::mkfifo((a->hidDevice / "report_descriptor").c_str(), 0600), 0);
         }
     },
     true, true, false},
    {"NoDeviceLink",
     [](FakeDevice&, const FakeTree::Added* a) {
         if (a != nullptr) {
             fs::remove(a->hidraw / "device");
         }
     },
     false, false, false},
};

class SpoiledTree : public LinuxPlatform, public ::testing::WithParamInterface<SpoiledCase> {};

TEST_P(SpoiledTree, FailsOnlyWhatTheFileAnswers) {
    const SpoiledCase& c = GetParam();
    FakeDevice d;
    c.spoil(d, nullptr);
    const auto added = tree.add(d);
    c.spoil(d, &added);
    auto handle = platform.open(added.node.c_str(), OpenMode::Probe);
    ASSERT_NE(handle, nullptr);
    HidAttributes attributes;
    EXPECT_EQ(handle->attributes(attributes), c.attributes);
    std::array<char16_t, 256> text{};
    EXPECT_EQ(handle->manufacturerString(text.data(), text.size()), c.strings);
    HidCaps caps;
    EXPECT_EQ(handle->capabilities(caps), c.caps);
    if (!c.caps) {
        EXPECT_NE(platform.lastError(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, SpoiledTree, ::testing::ValuesIn(SPOILED_CASES),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(LinuxPlatform, CharacterDeviceIsFoundByItsNumber) {
    const auto added = tree.add(FakeDevice{});
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    const fs::path charDir = tree.sys() / "dev/char";
    fs::create_directories(charDir);
    fs::create_directory_symlink(added.hidraw, charDir / (std::to_string(major(st.st_rdev)) + ":" +
                                                          std::to_string(minor(st.st_rdev))));
    // /dev/null answers no hidraw ioctl, so the uevent of the device it stands for does.
    auto handle = platform.open("/dev/null", OpenMode::Probe);
    ASSERT_NE(handle, nullptr);
    HidAttributes attributes;
    ASSERT_TRUE(handle->attributes(attributes));
    EXPECT_EQ(attributes.productId, 0x0002);
    EXPECT_EQ(manufacturerOf(*handle), u"TAVREN INC");
}

TEST_F(LinuxPlatform, OpenFailsWithTheReason) {
    EXPECT_EQ(platform.open((tree.dev() / "hidraw7").c_str(), OpenMode::Probe), nullptr);
    EXPECT_EQ(platform.lastError(), static_cast<std::uint32_t>(ENOENT));
    EXPECT_EQ(platform.open(nullptr, OpenMode::Read), nullptr);
    EXPECT_EQ(platform.lastError(), static_cast<std::uint32_t>(EINVAL));
    // A FIFO nobody reads would block a plain open for writing for ever.
    FakeDevice fifo;
    fifo.node = Node::Fifo;
    const auto added = tree.add(fifo);
    EXPECT_EQ(platform.open(added.node.c_str(), OpenMode::Write), nullptr);
    EXPECT_EQ(platform.lastError(), static_cast<std::uint32_t>(ENXIO));
}

// Reads run on a FIFO standing in for the node: the test writes what the device sends.
class FifoRead : public LinuxPlatform {
protected:
    std::unique_ptr<HidHandle> openReader(FakeDevice d = {}) {
        d.node = Node::Fifo;
        m_node = tree.add(d).node;
        auto handle = platform.open(m_node.c_str(), OpenMode::Read);
        m_device = ::open(m_node.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return handle;
    }
    void send(const std::uint8_t* data, std::size_t length) {
        ASSERT_EQ(::write(m_device, data, length), static_cast<ssize_t>(length));
    }
    void TearDown() override {
        if (m_device >= 0) {
            ::close(m_device);
        }
    }

    fs::path m_node;
    int m_device = -1;
};

TEST_F(FifoRead, NumberedReportArrivesAsItIs) {
    auto reader = openReader();
    ASSERT_NE(reader, nullptr);
    ASSERT_GE(m_device, 0);
    const auto sent = report(0x21, 7);
    send(sent.data(), sent.size());
    std::array<std::uint8_t, REPORT> got{};
    const ReadResult r = reader->read(got.data(), got.size());
    EXPECT_EQ(r.bytes, REPORT);
    EXPECT_FALSE(r.waited);
    EXPECT_EQ(got, sent);
}

TEST_F(FifoRead, UnnumberedReportGetsZeroInFront) {
    FakeDevice keyboard;
    keyboard.descriptor = bootKeyboard();
    auto reader = openReader(keyboard);
    ASSERT_NE(reader, nullptr);
    const std::array<std::uint8_t, 8> sent = {0x02, 0x00, 0x04, 0x05, 0, 0, 0, 0};
    send(sent.data(), sent.size());
    std::array<std::uint8_t, 9> got{};
    got.fill(0xEE);
    const ReadResult r = reader->read(got.data(), got.size());
    ASSERT_EQ(r.bytes, 9u);
    EXPECT_EQ(got[0], 0);
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), got.begin() + 1));
}

TEST_F(FifoRead, ReadWaitsForTheReport) {
    auto reader = openReader();
    ASSERT_NE(reader, nullptr);
    std::atomic<pid_t> tid{0};
    ReadResult r;
    std::array<std::uint8_t, REPORT> got{};
    std::thread t([&] {
        tid = static_cast<pid_t>(::syscall(SYS_gettid));
        r = reader->read(got.data(), got.size());
    });
    while (tid == 0) {
        std::this_thread::yield();
    }
    ASSERT_TRUE(waitUntilBlockedInPoll(tid));
    const auto sent = report(0x31, 1);
    send(sent.data(), sent.size());
    t.join();
    EXPECT_EQ(r.bytes, REPORT);
    EXPECT_TRUE(r.waited);
    EXPECT_EQ(got, sent);
}

TEST_F(FifoRead, CancelWakesTheReaderAndEndsEveryLaterRead) {
    auto reader = openReader();
    ASSERT_NE(reader, nullptr);
    std::atomic<pid_t> tid{0};
    ReadResult r{99, false};
    std::array<std::uint8_t, REPORT> got{};
    std::thread t([&] {
        tid = static_cast<pid_t>(::syscall(SYS_gettid));
        r = reader->read(got.data(), got.size());
    });
    while (tid == 0) {
        std::this_thread::yield();
    }
    ASSERT_TRUE(waitUntilBlockedInPoll(tid));
    reader->cancelRead();
    t.join();
    EXPECT_EQ(r.bytes, 0u);

    // A report waiting does not change that.
    const auto sent = report(0x21, 0);
    send(sent.data(), sent.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(reader->read(got.data(), got.size()).bytes, 0u);
    }
}

TEST_F(FifoRead, HangUpDeliversNothing) {
    auto reader = openReader();
    ASSERT_NE(reader, nullptr);
    const auto sent = report(0x21, 0);
    send(sent.data(), sent.size());
    ::close(m_device);
    m_device = -1;
    std::array<std::uint8_t, REPORT> got{};
    EXPECT_EQ(reader->read(got.data(), got.size()).bytes, 0u);
    EXPECT_EQ(platform.lastError(), static_cast<std::uint32_t>(ENODEV));
}

TEST_F(LinuxPlatform, WritePassesTheBufferAsItIs) {
    const auto added = tree.add(FakeDevice{});
    auto writer = platform.open(added.node.c_str(), OpenMode::Write);
    ASSERT_NE(writer, nullptr);
    const auto first = report(0x81, 0);
    const auto second = report(0x00, 3);  // unnumbered layout: byte 0 stays 0 on the wire
    EXPECT_EQ(writer->write(first.data(), first.size()), WriteStatus::Ok);
    EXPECT_EQ(writer->write(second.data(), second.size()), WriteStatus::Ok);
    std::ifstream in(added.node, std::ios::binary);
    const Bytes written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Bytes expected(first.begin(), first.end());
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(written, expected);

    EXPECT_EQ(writer->write(first.data(), 0), WriteStatus::Failed);
    auto reader = platform.open(added.node.c_str(), OpenMode::Read);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->write(first.data(), first.size()), WriteStatus::Failed);
    EXPECT_EQ(platform.lastError(), static_cast<std::uint32_t>(EBADF));
}

// The channel's use: one thread reads, one writes on another handle, a third cancels.
TEST_F(FifoRead, ReaderWriterAndCancellerOnThreeThreads) {
    constexpr int REPORTS = 200;
    auto reader = openReader();
    ASSERT_NE(reader, nullptr);
    FakeDevice out;
    out.number = 1;
    const auto outNode = tree.add(out).node;
    auto writer = platform.open(outNode.c_str(), OpenMode::Write);
    ASSERT_NE(writer, nullptr);
    for (int i = 0; i < REPORTS; ++i) {
        const auto r = report(0x21, static_cast<std::uint8_t>(i));
        send(r.data(), r.size());
    }

    std::atomic<int> received{0};
    std::atomic<bool> readerDone{false};
    std::vector<std::array<std::uint8_t, REPORT>> got;
    std::thread readThread([&] {
        std::array<std::uint8_t, REPORT> buffer{};
        while (reader->read(buffer.data(), buffer.size()).bytes == REPORT) {
            got.push_back(buffer);
            ++received;
        }
        readerDone = true;
    });
    int writesOk = 0;
    std::thread writeThread([&] {
        for (int i = 0; i < REPORTS; ++i) {
            const auto r = report(0xA4, static_cast<std::uint8_t>(i));
            writesOk += writer->write(r.data(), r.size()) == WriteStatus::Ok ? 1 : 0;
        }
    });
    std::thread cancelThread([&] {
        while (received < REPORTS && !readerDone) {
            std::this_thread::yield();
        }
        reader->cancelRead();
    });
    readThread.join();
    writeThread.join();
    cancelThread.join();

    ASSERT_EQ(got.size(), static_cast<std::size_t>(REPORTS));
    for (int i = 0; i < REPORTS; ++i) {
        EXPECT_EQ(got[static_cast<std::size_t>(i)], report(0x21, static_cast<std::uint8_t>(i)));
    }
    EXPECT_EQ(writesOk, REPORTS);
    EXPECT_EQ(fs::file_size(outNode), REPORTS * REPORT);
}

TEST_F(LinuxPlatform, AClaimIsAFlockOnTheNodeAndTheKernelNamesItsHolder) {
    for (const char* name : {"hidraw0", "hidraw1"}) {
        std::ofstream(tree.dev() / name) << "";
    }
    std::string comm;
    std::getline(std::ifstream("/proc/self/comm"), comm);
    expectClaimsExclude(platform, tree.dev() / "hidraw0", tree.dev() / "hidraw1",
                        static_cast<std::uint32_t>(::getpid()), comm);
    EXPECT_EQ(platform.claim((tree.dev() / "absent").c_str(), "ostrel").status,
              ClaimStatus::Failed);
    EXPECT_EQ(platform.lastError(), static_cast<std::uint32_t>(ENOENT));
}

}  // namespace
