// completion SHELL: the completion script of bash, zsh or fish, for the package's build,
// which installs them; hidden from --help and the manual page.
#include <CLI/CLI.hpp>
#include <ostream>

#include "cli/commands/OptionChecks.h"
#include "cli/commands/Verb.h"
#include "cli/help/CompletionScript.h"
#include "cli/help/HelpText.h"

namespace ctl {
namespace {

class CompletionCommand final : public Command {
public:
    CompletionCommand(CLI::App& command, Program& program) : m_program(program) {
        command.add_option("SHELL", m_shell, "bash, zsh or fish")
            ->required()
            ->check(oneOf({"bash", "zsh", "fish"}));
    }

    int run(CommandContext& context) override {
        context.console.out << completionScript(m_program.everyOption(), m_shell).value_or("");
        return EXIT_OK;
    }

private:
    Program& m_program;
    std::string m_shell;
};

}  // namespace

extern const Verb COMPLETION{"completion",
                             "the shell completion script of SHELL",
                             true,
                             Claims::Nothing,
                             UnderAll::Refused,
                             [](CLI::App& command, Program& program) -> std::unique_ptr<Command> {
                                 command.footer(helpFooter({}));
                                 return std::make_unique<CompletionCommand>(command, program);
                             }};

}  // namespace ctl
