#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "device/HIDDevices.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"

// The allocation-failure case asks for an absurd path buffer; the sanitizers must let
// nothrow new answer null, as the plain allocator does.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
extern "C" const char* __tsan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

using platform::SimIdentity;
using platform::SimScanStep;
using sim::SimulatedOstrel;

constexpr const char* MANUFACTURER = OSTREL_MANUFACTURER;
constexpr const char* PRODUCT = OSTREL_PRODUCT;
constexpr const char* NO_DEVICE =
    "No device found - set the -manuf, -product, -vendor, -pid propperly:\n";
constexpr const char* TOO_MANY =
    "Too many devices - set the -manuf, -product, -vendor, -pid propperly:\n";

class Discovery : public ::testing::Test {
protected:
    void SetUp() override { m_out = std::tmpfile(); }
    void TearDown() override { std::fclose(m_out); }

    std::unique_ptr<HIDDescriptor> find(std::uint16_t productId = 0x0002,
                                        const char* manufacturer = MANUFACTURER,
                                        const char* product = PRODUCT) {
        HIDDevices devices(m_platform, m_out);
        return devices.find(manufacturer, product, productId);
    }

    std::string output() { return output(m_out); }
    static std::string output(std::FILE* file) {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
            text.push_back(static_cast<char>(c));
        }
        return text;
    }

    std::shared_ptr<platform::SimDevice> add(const std::function<void(SimIdentity&)>& change) {
        SimIdentity id = SimulatedOstrel::identity();
        change(id);
        return m_platform.addDevice(id);
    }

    platform::SimHidPlatform m_platform;
    std::FILE* m_out = nullptr;
};

TEST_F(Discovery, FindsTheOneControllerWithEverythingTheChannelNeeds) {
    auto device = m_platform.addDevice(SimulatedOstrel::identity(0x0002, "/dev/hidraw7"));
    auto found = find();
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->manufacturer, "TAVREN INC");
    EXPECT_STREQ(found->product, "Ostrel PSU");
    EXPECT_EQ(found->vendorId, 0x04D8);
    EXPECT_EQ(found->productId, 0x0002);
    EXPECT_EQ(found->path, "/dev/hidraw7");
    EXPECT_EQ(found->location, "");  // a device on no port
    EXPECT_EQ(found->caps.inputReportByteLength, 24);
    EXPECT_EQ(found->caps.outputReportByteLength, 24);
    EXPECT_EQ(output(), "");
    EXPECT_EQ(device->openHandles(), 0);  // the probe handle is closed
}

TEST_F(Discovery, NothingPresent) {
    EXPECT_EQ(find(), nullptr);
    EXPECT_EQ(output(), NO_DEVICE);
}

TEST_F(Discovery, TheAlternativeProductIdIsFoundOnlyWhenAskedFor) {
    m_platform.addDevice(SimulatedOstrel::identity(0xD001));
    EXPECT_EQ(find(0x0002), nullptr);
    auto found = find(0xD001);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->productId, 0xD001);
    EXPECT_EQ(output(), NO_DEVICE);
}

TEST_F(Discovery, TwoControllersAreListedAndNeitherIsTaken) {
    auto first = m_platform.addDevice(SimulatedOstrel::identity());
    auto second = m_platform.addDevice(SimulatedOstrel::identity());
    m_platform.addDevice(SimulatedOstrel::identity(0xD001));  // not asked for
    EXPECT_EQ(find(), nullptr);
    const std::string line = "Manuf=TAVREN INC product=Ostrel PSU vendor=4d8 pid=2\n";
    EXPECT_EQ(output(), std::string(TOO_MANY) + line + line);
    EXPECT_EQ(first->openHandles() + second->openHandles(), 0);
    EXPECT_EQ(HIDDevices(m_platform, nullptr).find(MANUFACTURER, PRODUCT, 0x0002), nullptr);
}

TEST_F(Discovery, AllControllersOfBothIdsWithTheirLocations) {
    const SimulatedOstrel first(m_platform);
    const SimulatedOstrel other(m_platform, 0xD001);
    add([](SimIdentity& id) { id.location = "2-3"; });
    add([](SimIdentity& id) { id.vendorId = 0x04D9; });  // not a controller
    add([](SimIdentity& id) { id.inputReportByteLength = 64; });
    add([](SimIdentity&) {})->unplug();
    HIDDevices devices(m_platform, m_out);
    const auto found = findAllOstrels(devices);
    const std::vector<std::pair<std::string, std::uint16_t>> expected = {
        {"sim-1", 0x0002}, {"2-3", 0x0002}, {"sim-2", 0xD001}};
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i]->location, expected[i].first);
        EXPECT_EQ(found[i]->productId, expected[i].second);
        EXPECT_EQ(found[i]->caps.inputReportByteLength, 24);
    }
    EXPECT_EQ(found[0]->path, first.path());
    EXPECT_EQ(found[2]->path, other.path());
    EXPECT_EQ(output(), "");
    // Two of the first id are none, so the window takes the one of the other.
    const auto alone = findOstrel(devices);
    ASSERT_NE(alone, nullptr);
    EXPECT_EQ(alone->location, "sim-2");
    EXPECT_EQ(output(), std::string(TOO_MANY) +
                            "Manuf=TAVREN INC product=Ostrel PSU vendor=4d8 pid=2\n"
                            "Manuf=TAVREN INC product=Ostrel PSU vendor=4d8 pid=2\n");

    platform::SimHidPlatform empty;
    HIDDevices none(empty, nullptr);
    EXPECT_TRUE(findAllOstrels(none).empty());
}

struct Mismatch {
    const char* name;
    std::function<void(SimIdentity&)> change;
    std::function<void(platform::SimBehaviour&)> behave;
    const char* why;  // what the search log says of it
};

void PrintTo(const Mismatch& value, std::ostream* out) {
    *out << value.name;
}

class DiscoveryMismatch : public Discovery, public ::testing::WithParamInterface<Mismatch> {};

TEST_P(DiscoveryMismatch, IsNotTaken) {
    auto device = add(GetParam().change);
    platform::SimBehaviour behaviour;
    GetParam().behave(behaviour);
    device->setBehaviour(behaviour);
    EXPECT_EQ(find(), nullptr);
    EXPECT_EQ(output(), NO_DEVICE);
    // The search log (ostrelctl --verbose) names the interface and why it was not taken.
    std::FILE* file = std::tmpfile();
    HIDDevices logged(m_platform, nullptr);
    logged.logSearch(file);
    EXPECT_TRUE(findAllOstrels(logged).empty());
    const std::string log = output(file);
    std::fclose(file);
    EXPECT_TRUE(log.starts_with(device->identity().path + ": ")) << log;
    EXPECT_NE(log.find(std::string(": not taken: ") + GetParam().why), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("\nHID interfaces present: 1\n")) << log;
}

auto same = [](SimIdentity&) {};
auto plain = [](platform::SimBehaviour&) {};

INSTANTIATE_TEST_SUITE_P(
    Cases, DiscoveryMismatch,
    ::testing::Values(Mismatch{"OtherVendor", [](SimIdentity& id) { id.vendorId = 0x04D9; }, plain,
                               "not a controller's vendor and product id"},
                      Mismatch{"OtherProduct", [](SimIdentity& id) { id.productId = 0x0003; },
                               plain, "not a controller's vendor and product id"},
                      Mismatch{"ManufacturerCase",
                               [](SimIdentity& id) { id.manufacturer = u"Tavren Inc"; }, plain,
                               "a controller's ids, other names"},
                      Mismatch{"ProductTrailingSpace",
                               [](SimIdentity& id) { id.product = u"Ostrel PSU "; }, plain,
                               "a controller's ids, other names"},
                      Mismatch{"NoManufacturer", [](SimIdentity& id) { id.manufacturer.reset(); },
                               plain, "a controller's ids, other names"},
                      Mismatch{"NoProduct", [](SimIdentity& id) { id.product.reset(); }, plain,
                               "a controller's ids, other names"},
                      Mismatch{"Input23", [](SimIdentity& id) { id.inputReportByteLength = 23; },
                               plain, "a controller's ids and names, other report sizes"},
                      Mismatch{"Input25", [](SimIdentity& id) { id.inputReportByteLength = 25; },
                               plain, "a controller's ids and names, other report sizes"},
                      Mismatch{"Output65", [](SimIdentity& id) { id.outputReportByteLength = 65; },
                               plain, "a controller's ids and names, other report sizes"},
                      Mismatch{"Output0", [](SimIdentity& id) { id.outputReportByteLength = 0; },
                               plain, "a controller's ids and names, other report sizes"},
                      Mismatch{"NoCapabilities", same,
                               [](platform::SimBehaviour& b) { b.capabilitiesFail = true; },
                               "a controller's ids and names, other report sizes"},
                      Mismatch{"ProbeDoesNotOpen", same,
                               [](platform::SimBehaviour& b) { b.openProbeFails = true; },
                               "cannot be opened (system error"},
                      Mismatch{"AttributesUnreadable", same,
                               [](platform::SimBehaviour& b) { b.attributesFail = true; },
                               "its ids cannot be read"}),
    [](const auto& param) { return param.param.name; });

TEST_F(Discovery, OddDevicesBeforeTheControllerDoNotHideIt) {
    auto noProbe = add(same);
    noProbe->setBehaviour({.openProbeFails = true});
    auto noAttributes = add(same);
    noAttributes->setBehaviour({.attributesFail = true});
    add([](SimIdentity& id) { id.path = "/dev/real"; });
    auto found = find();
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->path, "/dev/real");
    EXPECT_EQ(output(), "");
}

struct Conversion {
    const char* name;
    std::u16string deviceString;
    std::string stored;
};

void PrintTo(const Conversion& value, std::ostream* out) {
    *out << value.name;
}

class StringConversion : public Discovery, public ::testing::WithParamInterface<Conversion> {};

TEST_P(StringConversion, KeepsTheLowByteOfEachUnit) {
    add([](SimIdentity& id) { id.manufacturer = GetParam().deviceString; });
    auto found = find(0x0002, GetParam().stored.c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::string(found->manufacturer), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StringConversion,
    ::testing::Values(Conversion{"UnitsAbove0xFF", u"\u0154\u0141VREN INC", "TAVREN INC"},
                      Conversion{"LowByteZeroEnds", u"TAVREN INC\u0100 and more", "TAVREN INC"},
                      Conversion{"DegreeSign", u"Ostrel \u00B0C",
                                 "Ostrel \xB0"
                                 "C"},
                      Conversion{"CutAt255", std::u16string(300, u'A'), std::string(255, 'A')},
                      Conversion{"FullBufferNoTerminator", std::u16string(256, u'B'),
                                 std::string(255, 'B')}),
    [](const auto& param) { return param.param.name; });

TEST_F(Discovery, AWantedStringBeyond255NeverMatches) {
    add([](SimIdentity& id) { id.manufacturer = std::u16string(300, u'A'); });
    EXPECT_EQ(find(0x0002, std::string(256, 'A').c_str()), nullptr);
    EXPECT_EQ(find(0x0002, nullptr), nullptr);
}

struct StepFailure {
    const char* name;
    SimScanStep step;
    const char* message;
};

void PrintTo(const StepFailure& value, std::ostream* out) {
    *out << value.name;
}

class ScanStepFailure : public Discovery, public ::testing::WithParamInterface<StepFailure> {};

// The failure hits the second interface: the controller at index 0 is already taken and
// stays found; the one behind the failure is never looked at.
TEST_P(ScanStepFailure, EndsTheScanWithItsLine) {
    add([](SimIdentity& id) { id.path = "/dev/first"; });
    add(same);
    m_platform.failScanStep(GetParam().step, 1, 1234);
    auto found = find();
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->path, "/dev/first");
    EXPECT_EQ(output(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanStepFailure,
    ::testing::Values(StepFailure{"InterfaceAt", SimScanStep::InterfaceAt,
                                  "SetupDiEnumDeviceInterfaces failed with error: 1234\n"},
                      StepFailure{"PathSize", SimScanStep::PathSize,
                                  "SetupDiGetDeviceInterfaceDetail failed with error: 1234\n"},
                      StepFailure{
                          "Path", SimScanStep::Path,
                          "Error in SetupDiGetDeviceInterfaceDetail failed with error: 1234\n"}),
    [](const auto& param) { return param.param.name; });

TEST_F(Discovery, NoSetOfInterfaces) {
    add(same);
    m_platform.failScanStep(SimScanStep::PresentInterfaces, 0, 31);
    EXPECT_EQ(find(), nullptr);
    EXPECT_EQ(output(), std::string("SetupDiGetClassDevs failed with error: 31\n") + NO_DEVICE);
}

TEST_F(Discovery, PathBufferThatCannotBeAllocated) {
    add(same);
    m_platform.setPathSize(0, std::numeric_limits<std::size_t>::max() / 2);
    EXPECT_EQ(find(), nullptr);
    EXPECT_EQ(output(), std::string("Unable to allocate memory to get the interface detail "
                                    "data.\n") +
                            NO_DEVICE);
}

TEST_F(Discovery, PathLongerThanItsClaimedSize) {
    add(same);
    m_platform.setPathSize(0, 4);
    EXPECT_EQ(find(), nullptr);
    EXPECT_EQ(output(),
              std::string("Error in SetupDiGetDeviceInterfaceDetail failed with error: 122\n") +
                  NO_DEVICE);
}

}  // namespace
