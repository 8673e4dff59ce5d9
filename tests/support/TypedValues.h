// Texts typed as a parameter's new value, and what becomes of each. One table drives both
// the window's Send (app/tests) and `ostrelctl set` (cli/tests): they must take and refuse
// the same texts.
#pragma once

#include <cstdint>

namespace typed {

enum class Outcome {
    Stored,                 // written; `raw` is what the controller then holds
    RefusedOnThisFirmware,  // refused with this firmware's factors, taken with the other's
    RefusedOnEvery,         // no firmware takes it
};

struct TypedValue {
    std::uint8_t address;  // the row's
    const char* text;
    std::uint8_t version;  // the controller's firmware, major in the high nibble
    Outcome outcome;
    int raw;
    // What ostrelctl says: part of its refusal, or the note that the stored value differs
    // from the text (empty: no note).
    const char* message;
};

constexpr std::uint8_t DELAY = 0x03;            // "Delay before PSU startup", 0 to 255 s
constexpr std::uint8_t IGNITION_HIGH = 0x00;    // volts, factors switched by firmware 2.x
constexpr std::uint8_t MIN_TEMPERATURE = 0x1D;  // signed
constexpr std::uint8_t OFF_DELAY_1 = 0x24;      // two bytes, hh:mm:ss or Never
constexpr std::uint8_t THUMP = 0x1A;            // two bytes, 10 ms steps

using enum Outcome;

inline constexpr TypedValue TYPED_VALUES[] = {
    {DELAY, "300", 0x12, RefusedOnEvery, 0,
     "Delay before PSU startup takes 0 to 255 [s]; \"300\" is outside"},
    {DELAY, "abc", 0x12, RefusedOnEvery, 0,
     "Delay before PSU startup takes a number from 0 to 255 [s]; \"abc\" is not one"},
    {DELAY, "", 0x12, RefusedOnEvery, 0, "\"\" is not one"},
    {DELAY, "NaN", 0x12, RefusedOnEvery, 0, "is not one"},
    {DELAY, "inf", 0x12, RefusedOnEvery, 0, "is not one"},
    {DELAY, "0x10", 0x12, RefusedOnEvery, 0, "is not one"},
    {DELAY, " 5", 0x12, RefusedOnEvery, 0, "is not one"},
    {DELAY, "5s", 0x12, RefusedOnEvery, 0, "is not one"},
    {DELAY, "12,5", 0x12, RefusedOnEvery, 0, "is not one"},
    {DELAY, "1e999", 0x12, RefusedOnEvery, 0, "is outside"},
    {DELAY, "-5", 0x12, RefusedOnEvery, 0, "\"-5\" is outside"},
    {DELAY, "1e2", 0x12, Stored, 100, ""},
    {DELAY, "5.4", 0x12, Stored, 5, "5.4 [s] is stored as 5 [s]"},
    {IGNITION_HIGH, "12,5", 0x12, RefusedOnEvery, 0,
     "Ignition HIGH limit takes a number from 0.00 to 28.64 [V] on firmware 1.x, 0.00 to "
     "39.58 [V] on 2.x; \"12,5\" is not one"},
    {IGNITION_HIGH, "12.5", 0x12, Stored, 111, "12.5 [V] is stored as 12.47 [V]"},
    {IGNITION_HIGH, "12.47", 0x12, Stored, 111, ""},
    {IGNITION_HIGH, "30", 0x12, RefusedOnThisFirmware, 0,
     "Ignition HIGH limit takes 0.00 to 28.64 [V]; \"30\" is outside"},
    {IGNITION_HIGH, "30", 0x21, Stored, 193, "30 [V] is stored as 29.95 [V]"},
    {IGNITION_HIGH, "40", 0x21, RefusedOnEvery, 0, "\"40\" is outside"},
    {MIN_TEMPERATURE, "-200", 0x12, RefusedOnEvery, 0,
     "Minimum temperature takes -128 to 127 [\u00B0C]; \"-200\" is outside"},
    {MIN_TEMPERATURE, "-hot", 0x12, RefusedOnEvery, 0, "\"-hot\" is not one"},
    {MIN_TEMPERATURE, "--help", 0x12, RefusedOnEvery, 0, "\"--help\" is not one"},
    {MIN_TEMPERATURE, "-5", 0x12, Stored, 0xFB, ""},
    {MIN_TEMPERATURE, "-5.7", 0x12, Stored, 0xFB, "-5.7 [\u00B0C] is stored as -5 [\u00B0C]"},
    {OFF_DELAY_1, "18:00:00", 0x12, RefusedOnEvery, 0,
     "Off-delay MODE 1 takes 00:00:00 to 17:59:59 [hh:mm:ss] or Never; \"18:00:00\" is "
     "outside"},
    {OFF_DELAY_1, "1:00:00", 0x12, RefusedOnEvery, 0, "is not one"},
    {OFF_DELAY_1, "01:60:00", 0x12, RefusedOnEvery, 0, "is outside"},
    {OFF_DELAY_1, "17:59:59", 0x12, Stored, 64799, ""},
    {OFF_DELAY_1, "never", 0x12, Stored, 65535, ""},
    {THUMP, "1005", 0x12, Stored, 101, "1005 [ms] is stored as 1010 [ms]"},
    {THUMP, "655350", 0x12, Stored, 65535, ""},
    {THUMP, "655360", 0x12, RefusedOnEvery, 0, "takes 0 to 655350 [ms]"},
};

}  // namespace typed
