// Random and mutated report descriptors for a few seconds: the parser must neither
// crash, hang nor read out of bounds (run it under the asan preset), and its answers
// must hold up under changes that cannot shorten a report.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>

#include "platform/linux/ReportDescriptor.h"
#include "platform/linux/tests/Descriptors.h"

namespace {

using platform::parseReportDescriptor;
using testdata::Bytes;

constexpr auto FUZZ_BUDGET = std::chrono::milliseconds(2500);

// Bytes the parser treats specially, to reach its branches more often than chance.
constexpr std::uint8_t INTERESTING[] = {0xFE, 0xA4, 0xB4, 0x85, 0x86, 0x75, 0x77, 0x95,
                                        0x97, 0x81, 0x91, 0xB1, 0x00, 0xFF, 0x80, 0x03};

class Fuzzer {
public:
    explicit Fuzzer(std::uint32_t seed) : m_random(seed) {}

    std::size_t below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_random);
    }
    std::uint8_t byte() {
        return below(4) == 0 ? INTERESTING[below(sizeof INTERESTING)]
                             : static_cast<std::uint8_t>(below(256));
    }

    Bytes randomBytes() {
        Bytes d(below(300));
        for (auto& b : d) {
            b = byte();
        }
        return d;
    }

    // Well-formed short items with random tags and data: gets past the framing.
    Bytes randomItems() {
        Bytes d;
        const std::size_t items = below(60);
        for (std::size_t i = 0; i < items; ++i) {
            const std::uint8_t size = static_cast<std::uint8_t>(below(4));
            d.push_back(static_cast<std::uint8_t>((byte() & 0xFC) | size));
            for (std::size_t k = 0; k < (size == 3 ? 4u : size); ++k) {
                d.push_back(byte());
            }
        }
        return d;
    }

    Bytes mutate(Bytes d) {
        const std::size_t rounds = 1 + below(8);
        for (std::size_t r = 0; r < rounds; ++r) {
            const std::size_t at = d.empty() ? 0 : below(d.size());
            switch (below(5)) {
                case 0:
                    if (!d.empty()) {
                        d[at] = byte();
                    }
                    break;
                case 1:
                    d.insert(d.begin() + static_cast<long>(at), byte());
                    break;
                case 2:
                    if (!d.empty()) {
                        d.erase(d.begin() + static_cast<long>(at));
                    }
                    break;
                case 3:
                    d.resize(at);
                    break;
                default: {
                    const Bytes chunk(d.begin() + static_cast<long>(at), d.end());
                    d.insert(d.begin() + static_cast<long>(below(d.size() + 1)), chunk.begin(),
                             chunk.end());
                    break;
                }
            }
        }
        return d;
    }

private:
    std::mt19937 m_random;
};

TEST(ReportDescriptorFuzz, SurvivesAnyBytes) {
    const Bytes seeds[] = {testdata::gadgetDescriptor(), testdata::bootKeyboard(),
                           testdata::bootMouse()};
    Fuzzer fuzz(0x057E1u);
    const auto end = std::chrono::steady_clock::now() + FUZZ_BUDGET;
    long runs = 0;
    long parsed = 0;
    while (std::chrono::steady_clock::now() < end) {
        for (int batch = 0; batch < 100; ++batch, ++runs) {
            Bytes d;
            switch (fuzz.below(3)) {
                case 0:
                    d = fuzz.randomBytes();
                    break;
                case 1:
                    d = fuzz.randomItems();
                    break;
                default:
                    d = fuzz.mutate(seeds[fuzz.below(3)]);
                    break;
            }
            const auto summary = parseReportDescriptor(d);
            if (!summary) {
                continue;
            }
            ++parsed;

            // Local items and long items change no length.
            Bytes padded = d;
            padded.insert(padded.end(), {0x09, 0x01, 0xFE, 0x02, 0x00, 0xAA, 0xBB});
            const auto same = parseReportDescriptor(padded);
            ASSERT_TRUE(same.has_value());
            EXPECT_EQ(same->inputReportByteLength, summary->inputReportByteLength);
            EXPECT_EQ(same->outputReportByteLength, summary->outputReportByteLength);
            EXPECT_EQ(same->featureReportByteLength, summary->featureReportByteLength);
            EXPECT_EQ(same->numbered, summary->numbered);

            // One more input field never shortens a report, nor touches other types.
            Bytes longer = d;
            const std::uint8_t size = fuzz.byte();
            const std::uint8_t count = fuzz.byte();
            longer.insert(longer.end(), {0x75, size, 0x95, count, 0x81, 0x02});
            if (const auto grown = parseReportDescriptor(longer)) {
                EXPECT_GE(grown->inputReportByteLength, summary->inputReportByteLength);
                EXPECT_EQ(grown->outputReportByteLength, summary->outputReportByteLength);
            }
            if (HasFailure()) {
                return;
            }
        }
    }
    std::printf("fuzzed %ld descriptors, %ld of them well formed\n", runs, parsed);
    EXPECT_GT(parsed, 0);
}

}  // namespace
