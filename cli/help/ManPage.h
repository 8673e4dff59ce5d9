// The manual page of ostrelctl, in roff, written from the parser's own commands and options
// and the exit statuses of --help, so that the page and the program cannot drift apart.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <string_view>

namespace ctl {

// `version` is the project's ("1.0.0"), `date` the release's ("2026-12-08").
std::string ostrelctlManPage(const CLI::App& app, std::string_view version, std::string_view date);

// `text` safe as roff running text: backslashes, hyphens and a leading dot or quote escaped.
std::string roffEscape(std::string_view text);

}  // namespace ctl
