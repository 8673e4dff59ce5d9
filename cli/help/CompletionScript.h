// Shell completions for ostrelctl, written from the parser's own definitions (the hidden
// command "completion SHELL"), so that they cannot drift from what the parser takes.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace ctl {

// The completion script of `shell` ("bash", "zsh" or "fish") for `app`; none for another.
// It completes the commands (not the hidden ones), the options, parameter short names for a
// PARAM, file paths for a FILE, and locations, from `ostrelctl devices` when it is run, for
// an option whose value is a LOCATION.
std::optional<std::string> completionScript(const CLI::App& app, std::string_view shell);

}  // namespace ctl
