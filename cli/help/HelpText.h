// The texts --help and the manual page share: how PARAM and VALUE are written, the version,
// and the footer of every --help.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

namespace ctl {

// How a command's PARAM names a parameter, and which VALUE texts are taken.
extern const char* const PARAM_SYNTAX;
extern const char* const VALUE_SYNTAX;

// "ostrelctl 1.0.0".
std::string ostrelctlVersion();

// What the end of a command's --help tells: only what concerns the command.
struct FooterParts {
    bool param = false;       // how PARAM is written (it takes one)
    bool value = false;       // which VALUE texts are taken (it takes one, or a backup's)
    bool controller = false;  // the exit statuses of a command that talks to a controller
    bool claims = false;      // exit status 5 (it claims the controller it talks to)
    bool differs = false;     // exit status 6 (diff --exit-code)
    bool all = false;         // the exit status under --all
};

// PARAM_SYNTAX, VALUE_SYNTAX and the exit statuses `parts` asks for, wrapped at 90 columns,
// as --help ends; by default all of them, as the program's --help ends.
std::string helpFooter(const FooterParts& parts = {true, true, true, true, true, true});

// --help as people read it: options named as typed ("-h, --help", "--simulated[=N]"), with
// no notes of the parser's own ("Excludes:", "TEXT REQUIRED"), and a command's help with
// the options that go before or after every command.
std::shared_ptr<CLI::Formatter> helpFormatter();

}  // namespace ctl
