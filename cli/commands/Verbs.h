// The table of verbs: every command of ostrelctl, one row each, in the order --help and the
// manual page list them.
#pragma once

#include <span>

#include "cli/commands/Verb.h"

namespace ctl {

std::span<const Verb* const> verbs();

}  // namespace ctl
