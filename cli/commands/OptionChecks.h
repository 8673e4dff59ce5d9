// Checks of option values that several commands and the global options share.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace ctl {

// Seconds and milliseconds: digits with at most one decimal point. The number reader behind
// the options would also take nan, inf, 1e999 and 0x10, and read 010 as octal, so leading
// zeros go before it sees the text.
const CLI::Validator& decimalNumber();

// `what`, given as an empty text, is refused by name ("an empty file name") rather than
// taken as not given.
CLI::Validator notEmpty(const std::string& what);

}  // namespace ctl
