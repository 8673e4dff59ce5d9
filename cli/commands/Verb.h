// A verb of ostrelctl as the table of verbs holds it (cli/commands/Verbs.cpp): its name, the
// line --help shows, what it asks of the controllers, its options and what it does. The
// parser, --help, the manual page, the completions and --all know the commands only from
// these rows; each row is defined in the command's own file.
#pragma once

#include <memory>
#include <string>

#include "core/context/Context.h"

namespace CLI {
class App;
}

namespace ctl {

// A command as the command line gave it: the values of its options, and what it does.
class Command {
public:
    virtual ~Command() = default;

    // On one controller: context.target, or the one --device names, or the only one.
    virtual int run(CommandContext& context) = 0;
    // --all, once, before any controller is opened: refuses what every controller would be
    // refused (said once rather than once a controller) and reads what all of them are given;
    // `input` is what "-" then reads for each. EXIT_OK to go on.
    virtual int beforeAll(CommandContext& context, std::string& input);
    // --all, on each controller (context.target), each on a thread of its own.
    virtual int runOnEach(CommandContext& context);
    // Whether its output is one JSON document, which --all gathers into an array.
    virtual bool json() const;
    // Whether its output is comma-separated values under a header line, which --all gathers
    // into one table with the location first.
    virtual bool csv() const;
    // Whether it ends when nobody reads its output any more, which is then no failure
    // (status --watch).
    virtual bool endsWithItsReader() const;
};

// The whole command line with every verb's options defined, for a command that describes
// the program (the completion scripts).
class Program {
public:
    virtual const CLI::App& everyOption() = 0;

protected:
    ~Program() = default;
};

// Whether the command claims the controller it opens (Session::start): one that reads or
// writes parameters does, since another program of ours doing so too would take its answers.
enum class Claims { Nothing, TheController };

// What --all does with the command.
enum class UnderAll {
    Refused,         // it works on no controller, or on every one already (list, devices)
    EachController,  // it runs on every attached controller at once (runOnAll)
    ItsOwnWay,       // it takes every controller by itself and reads --all itself (metrics)
};

struct Verb {
    const char* name;
    const char* summary;  // the line of --help and the manual page
    bool hidden;          // for the build only: not in --help, the manual page or completions
    Claims claims;
    UnderAll all;
    // Adds the verb's options to `command`, its subcommand of the parser, and returns the
    // Command that their values go to.
    std::unique_ptr<Command> (*define)(CLI::App& command, Program& program);
};

}  // namespace ctl
