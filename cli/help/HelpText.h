// The texts --help and the manual page share: how PARAM and VALUE are written, the version,
// and the footer of every --help.
#pragma once

#include <string>

namespace ctl {

// How a command's PARAM names a parameter, and which VALUE texts are taken.
extern const char* const PARAM_SYNTAX;
extern const char* const VALUE_SYNTAX;

// "ostrelctl 1.0.0".
std::string ostrelctlVersion();

// PARAM_SYNTAX, VALUE_SYNTAX and the exit statuses, wrapped at 90 columns, as --help ends.
std::string helpFooter();

}  // namespace ctl
