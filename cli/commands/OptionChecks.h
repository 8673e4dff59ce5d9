// Checks of option values that several commands and the global options share.
#pragma once

#include <CLI/CLI.hpp>
#include <initializer_list>
#include <string>

namespace ctl {

// Seconds and milliseconds: digits with at most one decimal point (numbers::PLAIN_DECIMAL,
// params/Numbers.h). CLI11's number reader behind the options would also take nan, inf, 1e999
// and 0x10, and read 010 as octal, so leading zeros go before it sees the text.
const CLI::Validator& decimalNumber();

// A number from `low` to `high` in `unit`, said in those words when it is not ("0" is outside
// 0.1 to 86400 seconds), and without a fraction when `whole`; after decimalNumber, which
// leaves only digits and a point.
CLI::Validator within(double low, double high, const std::string& unit, bool whole = false);

// One of `words`, said with all of them when it is not.
CLI::Validator oneOf(std::initializer_list<const char*> words);

// `what`, given as an empty text, is refused by name ("an empty file name") rather than
// taken as not given.
CLI::Validator notEmpty(const std::string& what);

}  // namespace ctl
