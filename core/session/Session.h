// The session with one controller that a command on parameters holds: the controller chosen,
// opened, claimed when the command's row says so, and asked for its status first, so that the
// table's factors fit the firmware before the first value is read. Every outcome that is not
// Ok becomes its exit code, said on the error stream.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/context/Context.h"
#include "core/session/Controller.h"
#include "device/Wire.h"
#include "params/ParamTable.h"
#include "params/ValueCodec.h"

namespace ctl {

class Session {
public:
    explicit Session(CommandContext& context) : m_context(context) {}

    // The controller of the context (its target, or the one --device or the search chooses),
    // opened, claimed when context.claims (the command reads or writes parameters, and
    // another program of ours that does so too, the window or another ostrelctl, would mix
    // its traffic with ours), and its status read. EXIT_OK, or the exit code after saying why.
    int start();

    // EXIT_OK, or the outcome's exit code after saying what went wrong.
    int check(Outcome outcome, const std::string& what);

    // Ctrl-C stops a command before its next read (a read-back is not one).
    int read(int row, ParamReport& value);

    // The read after writing `wanted`: a late answer is not taken for it.
    int readBack(int row, const EncodedValue& wanted, ParamReport& value);

    // Sends the factory reset (the write of the table's action row), whose row is then in
    // `row`. EXIT_OK, or the exit code after saying why.
    int factoryReset(const ParamDef*& row);
    // The row of the factory reset in this controller's table; null when it has none.
    const ParamDef* factoryResetRow() const;

    Controller& controller() { return *m_controller; }
    // Where the controller started on is plugged; empty before start() or where unknown.
    const std::string& location() const { return m_location; }
    ParamTable& table() { return m_table; }
    StatusReport& status() { return m_status; }

private:
    int takeClaim();

    CommandContext& m_context;
    ParamTable m_table;
    std::unique_ptr<Controller> m_controller;
    StatusReport m_status;
    std::string m_location;
};

// "1.2": the firmware version a status report gives.
std::string firmwareText(const StatusReport& status);
// The version byte (major in the high nibble) of "MAJOR.MINOR" as firmwareText writes it,
// each a number of 0 to 15, the major at least 1; none for anything else.
std::optional<std::uint8_t> firmwareVersion(std::string_view text);

// The value as read, with its unit, in UTF-8: "5 [s]".
std::string currentText(const ParamDef& row, const ParamReport& value);

// Whether the value read is the raw value `wanted`.
bool holds(const ParamDef& row, const ParamReport& value, const EncodedValue& wanted);

// What a command that writes parameters did and did not write, and how to finish, when it
// stopped part way (the controller lost, Ctrl-C): `command` is its name.
void printLists(std::ostream& out, const char* command, const std::vector<std::string>& verified,
                const std::vector<std::string>& failed, const std::vector<std::string>& notWritten);

// The first Ctrl-C, seen once the write in progress and its read-back are done: says so and
// returns EXIT_INTERRUPTED.
int interruptedAfterWriting(CommandContext& context);

}  // namespace ctl
