// SHA-256 of a file's bytes, so that a log can say later exactly which profile a unit got.
#pragma once

#include <string>
#include <string_view>

namespace ctl {

// The digest of `data` as 64 lower-case hexadecimal digits.
std::string sha256Hex(std::string_view data);

}  // namespace ctl
