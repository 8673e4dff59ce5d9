#include "cli/help/CompletionScript.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "core/names/ParamNames.h"
#include "params/ParamTable.h"

namespace ctl {
namespace {

// What the word being completed may be.
enum class Kind { None, File, Param, Location };

struct Option {
    std::vector<std::string> names;  // "--timeout", "-h"
    bool takesValue = false;
    Kind kind = Kind::None;
    std::string help;
};

struct Command {
    std::string name;
    std::string help;
    std::vector<Option> options;
    std::vector<Kind> positionals;  // in order
    bool lastRepeats = false;       // the last positional takes any number of words
};

struct Model {
    std::vector<Option> globals;
    std::vector<Command> commands;
    std::vector<std::string> params;        // the short names
    std::vector<std::string> valueOptions;  // every option that takes a value, all commands
};

Kind valueKind(const CLI::Option& option) {
    const std::string name =
        option.get_positional() ? option.get_name(true) : option.get_option_text();
    if (name == "FILE") {
        return Kind::File;
    }
    if (name == "PARAM") {
        return Kind::Param;
    }
    if (name == "LOCATION") {
        return Kind::Location;
    }
    return Kind::None;
}

std::vector<Option> options(const CLI::App& app, Model& model) {
    std::vector<Option> result;
    for (const CLI::Option* option : app.get_options()) {
        if (!option->nonpositional()) {
            continue;
        }
        Option& item = result.emplace_back();
        for (const std::string& name : option->get_lnames()) {
            item.names.push_back("--" + name);
        }
        for (const std::string& name : option->get_snames()) {
            item.names.push_back("-" + name);
        }
        item.takesValue = option->get_expected_max() > 0;
        item.kind = valueKind(*option);
        item.help = option->get_description();
        if (item.takesValue) {
            model.valueOptions.insert(model.valueOptions.end(), item.names.begin(),
                                      item.names.end());
        }
    }
    return result;
}

Model modelOf(const CLI::App& app) {
    Model model;
    model.globals = options(app, model);
    // A hidden command has no group; it is not offered.
    for (const CLI::App* sub :
         app.get_subcommands([](const CLI::App* sub) { return !sub->get_group().empty(); })) {
        Command& command = model.commands.emplace_back();
        command.name = sub->get_name();
        command.help = sub->get_description();
        command.options = options(*sub, model);
        for (const CLI::Option* option : sub->get_options()) {
            if (option->get_positional()) {
                command.positionals.push_back(valueKind(*option));
                command.lastRepeats = option->get_items_expected_max() > 1;
            }
        }
    }
    const ParamTable table;
    for (const int index : table.offeredRows()) {
        model.params.push_back(shortName(table.row(index).name));
    }
    return model;
}

std::string joined(const std::vector<std::string>& words, const char* separator = " ") {
    std::string text;
    for (const std::string& word : words) {
        text += (text.empty() ? "" : separator) + word;
    }
    return text;
}

// Each name once: a command has the help options of the program too.
std::vector<std::string> names(const std::vector<Option>& options,
                               std::vector<std::string> result = {}) {
    for (const Option& option : options) {
        for (const std::string& name : option.names) {
            if (std::find(result.begin(), result.end(), name) == result.end()) {
                result.push_back(name);
            }
        }
    }
    return result;
}

std::vector<std::string> commandNames(const Model& model) {
    std::vector<std::string> result;
    for (const Command& command : model.commands) {
        result.push_back(command.name);
    }
    return result;
}

// "get:*", "set:0": the case patterns, command and positional index, of one kind.
std::vector<std::string> positionPatterns(const Model& model, Kind kind) {
    std::vector<std::string> patterns;
    for (const Command& command : model.commands) {
        for (std::size_t i = 0; i < command.positionals.size(); ++i) {
            if (command.positionals[i] != kind) {
                continue;
            }
            const bool repeats = command.lastRepeats && i + 1 == command.positionals.size();
            patterns.push_back(command.name + ":" + (repeats && i == 0 ? "*" : std::to_string(i)));
        }
    }
    return patterns;
}

std::vector<std::string> valueOptionsOf(const Model& model, Kind kind) {
    std::vector<std::string> result;
    auto add = [&](const std::vector<Option>& options) {
        for (const Option& option : options) {
            if (option.takesValue && option.kind == kind) {
                result.insert(result.end(), option.names.begin(), option.names.end());
            }
        }
    };
    add(model.globals);
    for (const Command& command : model.commands) {
        add(command.options);
    }
    return result;
}

// The locations `devices --plain` lists, for the controllers the line being completed talks
// to: its --simulated[=N] (in `simulated`) included. Nothing when the program fails.
constexpr const char* LOCATIONS =
    "ostrelctl ${simulated:+\"$simulated\"} devices --plain 2>/dev/null";

// The command and the index of the positional word being completed, "get:0", from the words
// before it, and the --simulated word: shared by bash and zsh, which differ in how words are
// numbered and in that bash splits --name=value into three words.
void scanWords(std::ostream& out, const Model& model, const char* first, const char* word) {
    out << "    local command= positional=0 skip=0 simulated= last= word i\n"
        << "    for ((i = " << first << "; i < cword; i++)); do\n"
        << "        word=" << word << "\n"
        << "        if [[ $word == = ]]; then\n"
        << "            skip=1\n"
        << "            continue\n"
        << "        fi\n"
        << "        if ((skip)); then\n"
        << "            skip=0\n"
        << "            [[ $last == --simulated ]] && simulated=--simulated=$word\n"
        << "            continue\n"
        << "        fi\n"
        << "        last=$word\n"
        << "        case $word in\n"
        << "            --simulated | --simulated=*)\n"
        << "                simulated=$word\n"
        << "                continue\n"
        << "                ;;\n";
    if (!model.valueOptions.empty()) {
        out << "            " << joined(model.valueOptions, "|") << ")\n"
            << "                skip=1\n"
            << "                continue\n"
            << "                ;;\n";
    }
    out << "            -*) continue ;;\n"
        << "        esac\n"
        << "        if [[ -z $command ]]; then\n"
        << "            command=$word\n"
        << "        else\n"
        << "            positional=$((positional + 1))\n"
        << "        fi\n"
        << "    done\n";
}

// A case over the command naming the options it takes (the global ones too: they may follow
// the command).
// `before` and `after` go around the words in each branch.
void optionCase(std::ostream& out, const Model& model, const char* before, const char* after) {
    const std::string globals = joined(names(model.globals));
    out << "        case $command in\n"
        << "            '') " << before << globals << after << " ;;\n";
    for (const Command& command : model.commands) {
        out << "            " << command.name << ") " << before
            << joined(names(model.globals, names(command.options))) << after << " ;;\n";
    }
    out << "        esac\n";
}

std::string bash(const Model& model) {
    std::ostringstream out;
    out << "# bash completion for ostrelctl, written by \"ostrelctl completion bash\"\n"
        << "_ostrelctl() {\n"
        << "    local cur=${COMP_WORDS[COMP_CWORD]} cword=$COMP_CWORD\n"
        << "    local prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
        << "    COMPREPLY=()\n"
        << "    # --output=FILE: bash splits the word at '='.\n"
        << "    if [[ $cur == = ]]; then\n"
        << "        cur=\n"
        << "    fi\n"
        << "    if [[ $prev == = ]]; then\n"
        << "        prev=${COMP_WORDS[COMP_CWORD - 2]}\n"
        << "        cword=$((cword - 1))\n"
        << "    fi\n";
    scanWords(out, model, "1", "${COMP_WORDS[i]}");
    out << "    local kind=\n"
        << "    if ((skip)); then\n"
        << "        case $prev in\n";
    for (const Kind kind : {Kind::File, Kind::Location}) {
        const std::vector<std::string> options = valueOptionsOf(model, kind);
        if (!options.empty()) {
            out << "            " << joined(options, "|")
                << ") kind=" << (kind == Kind::File ? "file" : "location") << " ;;\n";
        }
    }
    out << "        esac\n"
        << "    elif [[ $cur == -* ]]; then\n";
    optionCase(out, model, "COMPREPLY=($(compgen -W \"", "\" -- \"$cur\"))");
    out << "        return\n"
        << "    elif [[ -z $command ]]; then\n"
        << "        COMPREPLY=($(compgen -W \"" << joined(commandNames(model))
        << "\" -- \"$cur\"))\n"
        << "        return\n"
        << "    else\n"
        << "        case $command:$positional in\n";
    for (const auto& [kind, label] : {std::pair{Kind::File, "file"}, {Kind::Param, "param"}}) {
        const std::vector<std::string> patterns = positionPatterns(model, kind);
        if (!patterns.empty()) {
            out << "            " << joined(patterns, "|") << ") kind=" << label << " ;;\n";
        }
    }
    out << "        esac\n"
        << "    fi\n"
        << "    case $kind in\n"
        << "        file)\n"
        << "            compopt -o filenames 2>/dev/null\n"
        << "            local IFS=$'\\n'\n"
        << "            COMPREPLY=($(compgen -f -- \"$cur\"))\n"
        << "            ;;\n"
        << "        param) COMPREPLY=($(compgen -W \"" << joined(model.params)
        << "\" -- \"$cur\")) ;;\n"
        << "        location) COMPREPLY=($(compgen -W \"$(" << LOCATIONS << ")\" -- \"$cur\")) ;;\n"
        << "    esac\n"
        << "}\n"
        << "complete -F _ostrelctl ostrelctl\n";
    return out.str();
}

std::string zsh(const Model& model) {
    std::ostringstream out;
    out << "#compdef ostrelctl\n"
        << "# zsh completion for ostrelctl, written by \"ostrelctl completion zsh\"\n"
        << "_ostrelctl() {\n"
        << "    local cur=${words[CURRENT]} cword=$CURRENT\n";
    scanWords(out, model, "2", "${words[i]}");
    // The option whose value is being completed: the word before, or this one's --name=.
    out << "    local option=\n"
        << "    if ((skip)); then\n"
        << "        option=${words[CURRENT - 1]}\n"
        << "    elif [[ $cur == --*=* ]]; then\n"
        << "        option=${cur%%=*}\n"
        << "        compset -P '*='\n"
        << "    fi\n"
        << "    if [[ -n $option ]]; then\n"
        << "        case $option in\n";
    const std::vector<std::string> files = valueOptionsOf(model, Kind::File);
    const std::vector<std::string> locations = valueOptionsOf(model, Kind::Location);
    if (!files.empty()) {
        out << "            " << joined(files, "|") << ") _files ;;\n";
    }
    if (!locations.empty()) {
        out << "            " << joined(locations, "|") << ") compadd -- ${(f)\"$(" << LOCATIONS
            << ")\"} ;;\n";
    }
    out << "        esac\n"
        << "        return\n"
        << "    fi\n"
        << "    if [[ $cur == -* ]]; then\n";
    optionCase(out, model, "compadd -- ", "");
    out << "        return\n"
        << "    fi\n"
        << "    if [[ -z $command ]]; then\n"
        << "        compadd -- " << joined(commandNames(model)) << "\n"
        << "        return\n"
        << "    fi\n"
        << "    case $command:$positional in\n";
    const std::vector<std::string> filePositions = positionPatterns(model, Kind::File);
    const std::vector<std::string> paramPositions = positionPatterns(model, Kind::Param);
    if (!filePositions.empty()) {
        out << "        " << joined(filePositions, "|") << ") _files ;;\n";
    }
    if (!paramPositions.empty()) {
        out << "        " << joined(paramPositions, "|") << ") compadd -- " << joined(model.params)
            << " ;;\n";
    }
    out << "    esac\n"
        << "}\n"
        << "_ostrelctl \"$@\"\n";
    return out.str();
}

// A text in fish's single quotes.
std::string fishQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "'";
}

void fishOption(std::ostream& out, const Option& option, const std::string& condition) {
    out << "complete -c ostrelctl";
    if (!condition.empty()) {
        out << " -n " << fishQuoted(condition);
    }
    for (const std::string& name : option.names) {
        out << (name.starts_with("--") ? " -l " + name.substr(2) : " -s " + name.substr(1));
    }
    // Files only where a file is wanted.
    if (option.takesValue) {
        out << (option.kind == Kind::File ? " -r -F" : " -x");
        if (option.kind == Kind::Location) {
            out << " -a " << fishQuoted("(__ostrelctl_locations)");
        }
    }
    out << " -d " << fishQuoted(option.help) << '\n';
}

std::string fish(const Model& model) {
    std::ostringstream out;
    out << "# fish completion for ostrelctl, written by \"ostrelctl completion fish\"\n"
        << "# The command and the index of the positional word being completed: \"get:0\".\n"
        << "function __ostrelctl_at\n"
        << "    set -l command ''\n"
        << "    set -l positional 0\n"
        << "    set -l skip 0\n"
        << "    for word in (commandline -opc)[2..-1]\n"
        << "        if test $skip = 1\n"
        << "            set skip 0\n"
        << "            continue\n"
        << "        end\n"
        << "        switch $word\n";
    if (!model.valueOptions.empty()) {
        out << "            case " << joined(model.valueOptions) << "\n"
            << "                set skip 1\n"
            << "                continue\n";
    }
    out << "            case '-*'\n"
        << "                continue\n"
        << "        end\n"
        << "        if test -z \"$command\"\n"
        << "            set command $word\n"
        << "        else\n"
        << "            set positional (math $positional + 1)\n"
        << "        end\n"
        << "    end\n"
        << "    echo $command:$positional\n"
        << "end\n"
        << "# Whether that is one of the patterns given.\n"
        << "function __ostrelctl_is\n"
        << "    set -l at (__ostrelctl_at)\n"
        << "    for pattern in $argv\n"
        << "        string match -q -- $pattern $at; and return 0\n"
        << "    end\n"
        << "    return 1\n"
        << "end\n"
        << "# The locations for --device, of the controllers the line talks to.\n"
        << "function __ostrelctl_locations\n"
        << "    set -l simulated\n"
        << "    for word in (commandline -opc)[2..-1]\n"
        << "        switch $word\n"
        << "            case --simulated '--simulated=*'\n"
        << "                set simulated $word\n"
        << "        end\n"
        << "    end\n"
        << "    ostrelctl $simulated devices --plain 2>/dev/null\n"
        << "end\n"
        << "complete -c ostrelctl -f\n";
    for (const Command& command : model.commands) {
        out << "complete -c ostrelctl -n " << fishQuoted("__ostrelctl_is ':*'") << " -a "
            << command.name << " -d " << fishQuoted(command.help) << '\n';
    }
    for (const Option& option : model.globals) {
        fishOption(out, option, "");
    }
    for (const Command& command : model.commands) {
        for (const Option& option : command.options) {
            fishOption(out, option, "__fish_seen_subcommand_from " + command.name);
        }
    }
    auto positions = [&](Kind kind) {
        std::string condition;
        for (const std::string& pattern : positionPatterns(model, kind)) {
            condition += " " + fishQuoted(pattern);
        }
        return "__ostrelctl_is" + condition;
    };
    if (!positionPatterns(model, Kind::File).empty()) {
        out << "complete -c ostrelctl -n " << fishQuoted(positions(Kind::File)) << " -F\n";
    }
    if (!positionPatterns(model, Kind::Param).empty()) {
        out << "complete -c ostrelctl -n " << fishQuoted(positions(Kind::Param)) << " -a "
            << fishQuoted(joined(model.params)) << '\n';
    }
    return out.str();
}

}  // namespace

std::optional<std::string> completionScript(const CLI::App& app, std::string_view shell) {
    const Model model = modelOf(app);
    if (shell == "bash") {
        return bash(model);
    }
    if (shell == "zsh") {
        return zsh(model);
    }
    if (shell == "fish") {
        return fish(model);
    }
    return std::nullopt;
}

}  // namespace ctl
