#include "cli/Commands.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <istream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>

#include "app/Cp1252.h"
#include "app/DialogTemplate.h"
#include "app/OutsideText.h"
#include "app/Resource.h"
#include "app/StatusText.h"
#include "cli/BackupFile.h"
#include "cli/Controller.h"
#include "cli/Metrics.h"
#include "cli/OutputFile.h"
#include "cli/ParamNames.h"
#include "cli/Selection.h"
#include "cli/StatusJson.h"
#include "cli/StrictValue.h"
#include "params/ValueCodec.h"

namespace ctl {
namespace {

using json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

constexpr std::size_t MAX_FAULTS_SHOWN = 20;

std::string utf8(const char* cp1252Text) {
    return cp1252::toUtf8(cp1252Text);
}

std::string currentText(const ParamDef& row, const ParamReport& value) {
    return withUnit(row, utf8(decodeParamValue(row, value.first, value.second).c_str()));
}

int fail(CommandContext& context, int code, const std::string& message) {
    context.console.err << "ostrelctl: " << message << '\n';
    return code;
}

// The controller, opened and asked for its status first, so that the table's factors fit
// the firmware before the first value is read.
class Session {
public:
    explicit Session(CommandContext& context) : m_context(context) {}

    // `claim`: the command reads or writes parameters, and another program of ours that
    // does so too (the window, another ostrelctl) would mix its traffic with ours.
    int start(bool claim = true) {
        Controller::Options options;
        options.timeout = std::chrono::milliseconds(m_context.global.timeoutMs);
        platform::HidPlatform& platform = m_context.platforms.platform(m_context.global.simulated);
        m_controller = std::make_unique<Controller>(platform, m_table, options);
        std::unique_ptr<HIDDescriptor> selected;
        const HIDDescriptor* chosen = m_context.target;
        if (chosen == nullptr) {
            Selection selection = selectControllers(
                platform, m_context.global.device, false,
                m_context.global.verbose ? m_context.console.diagnostics : nullptr);
            if (selection.code != EXIT_OK) {
                fail(m_context, selection.code, selection.message);
                for (const std::string& line : selection.listing) {
                    m_context.console.err << "  " << line << '\n';
                }
                return selection.code;
            }
            selected = std::move(selection.chosen.front());
            chosen = selected.get();
        }
        switch (m_controller->open(*chosen)) {
            case Controller::Found::One:
                break;
            case Controller::Found::Unopened:
                return fail(m_context, EXIT_NO_DEVICE,
                            "the controller at " + locationText(*chosen) + " (" + chosen->path +
                                ") was found but could not be opened");
            case Controller::Found::Moved:
                return fail(m_context, EXIT_NO_DEVICE,
                            "the controller at " + locationText(*chosen) + " (" + chosen->path +
                                ") is no longer there as chosen (unplugged or replugged); "
                                "nothing was sent");
        }
        if (claim) {
            if (const int code = takeClaim(); code != EXIT_OK) {
                return code;
            }
        }
        return check(m_controller->status(m_status), "the status request");
    }

    // EXIT_OK, or the outcome's exit code after saying what went wrong.
    int check(Outcome outcome, const std::string& what) {
        switch (outcome) {
            case Outcome::Ok:
                return EXIT_OK;
            case Outcome::Lost:
                return fail(m_context, EXIT_LOST, "the controller was lost (" + what + ")");
            case Outcome::Timeout:
                return fail(m_context, EXIT_TIMEOUT,
                            "no answer from the controller to " + what + " within " +
                                std::to_string(m_context.global.timeoutMs) + " ms");
            case Outcome::Refused:
                return fail(m_context, EXIT_TIMEOUT,
                            "the system refused to send " + what + " (error " +
                                std::to_string(m_controller->refusal()) +
                                "): it did not reach the controller");
        }
        return EXIT_LOST;
    }

    int read(int row, ParamReport& value) {
        return check(m_controller->read(m_table.row(row), value),
                     "the read of \"" + utf8(m_table.row(row).name) + "\"");
    }

    // The read after writing `wanted`: a late answer is not taken for it.
    int readBack(int row, const EncodedValue& wanted, ParamReport& value) {
        return check(m_controller->readBack(m_table.row(row), wanted, value),
                     "the read of \"" + utf8(m_table.row(row).name) + "\"");
    }

    Controller& controller() { return *m_controller; }
    ParamTable& table() { return m_table; }
    StatusReport& status() { return m_status; }

private:
    int takeClaim() {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::duration<double>(m_context.global.waitSeconds));
        const platform::ClaimResult claimed =
            m_controller->claim("ostrelctl", wait, m_context.interrupted);
        switch (claimed.status) {
            case platform::ClaimStatus::Held:
                return EXIT_OK;
            case platform::ClaimStatus::Failed:
                return fail(m_context, EXIT_NO_DEVICE,
                            "the controller was found but could not be claimed (system error " +
                                std::to_string(m_controller->lastError()) + ")");
            case platform::ClaimStatus::Busy:
                break;
        }
        const std::string holder = holderText(claimed.holder);
        if (m_context.global.waitSeconds <= 0) {
            return fail(m_context, EXIT_CLAIMED,
                        "the controller is in use by " + holder + "; close it or use --wait");
        }
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", m_context.global.waitSeconds);
        return fail(
            m_context, EXIT_CLAIMED,
            "the controller is still in use by " + holder + " after waiting " + seconds + " s");
    }

    CommandContext& m_context;
    ParamTable m_table;
    std::unique_ptr<Controller> m_controller;
    StatusReport m_status;
};

// --- files -------------------------------------------------------------------------------

// The whole file, refused by its size before it is read; "-" is the console's input.
bool readInput(CommandContext& context, const std::string& path, std::string& content) {
    std::istream* stream = &context.console.in;
    std::ifstream file;
    if (path != "-") {
        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::status(path, error);
        if (error || !std::filesystem::exists(status)) {
            fail(context, EXIT_USAGE, path + ": no such file");
            return false;
        }
        if (std::filesystem::is_directory(status)) {
            fail(context, EXIT_USAGE, path + ": is a folder");
            return false;
        }
        // A pipe (restore <(...)) or a device has no size: read like "-", up to the limit.
        const bool sized = std::filesystem::is_regular_file(status);
        const std::uintmax_t size = sized ? std::filesystem::file_size(path, error) : 0;
        if (error || size > BACKUP_FILE_LIMIT) {
            fail(context, EXIT_USAGE,
                 path + ": too large for a backup file (at most " +
                     std::to_string(BACKUP_FILE_LIMIT) + " bytes)");
            return false;
        }
        file.open(path, std::ios::binary);
        if (!file) {
            fail(context, EXIT_USAGE, path + ": cannot be opened");
            return false;
        }
        stream = &file;
    }
    // The size may change under us, and the console's input has none: read one byte past
    // the limit at most.
    content.assign(static_cast<std::size_t>(BACKUP_FILE_LIMIT) + 1, '\0');
    stream->read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(stream->gcount()));
    if (content.size() > BACKUP_FILE_LIMIT) {
        fail(context, EXIT_USAGE,
             path + ": too large for a backup file (at most " + std::to_string(BACKUP_FILE_LIMIT) +
                 " bytes)");
        return false;
    }
    if (stream->bad()) {
        fail(context, EXIT_USAGE, path + ": cannot be read");
        return false;
    }
    return true;
}

// "-" is the console's output; any other path is written whole or not at all.
bool writeOutput(CommandContext& context, const std::string& path, const std::string& content) {
    if (path == "-") {
        context.console.out << content;
        context.console.out.flush();
        if (!context.console.out) {
            fail(context, EXIT_USAGE, "the standard output cannot be written");
            return false;
        }
        return true;
    }
    if (const std::string error = writeWholeFile(path, content); !error.empty()) {
        fail(context, EXIT_USAGE, error);
        return false;
    }
    return true;
}

// The backup in `content`, read from `path`; false after listing its faults.
bool parseChecked(CommandContext& context, const std::string& path, const std::string& content,
                  Backup& backup) {
    std::vector<std::string> faults;
    backup = parseBackup(content, faults);
    if (faults.empty()) {
        return true;
    }
    for (std::size_t i = 0; i < faults.size() && i < MAX_FAULTS_SHOWN; ++i) {
        context.console.err << "ostrelctl: " << path << ": " << faults[i] << '\n';
    }
    if (faults.size() > MAX_FAULTS_SHOWN) {
        context.console.err << "ostrelctl: " << path << ": and " << faults.size() - MAX_FAULTS_SHOWN
                            << " faults more\n";
    }
    return false;
}

bool loadBackup(CommandContext& context, const std::string& path, Backup& backup) {
    std::string content;
    return readInput(context, path, content) && parseChecked(context, path, content, backup);
}

void warnFirmware(CommandContext& context, const Backup& backup, const StatusReport& status) {
    if (backup.firmwareMajor == status.major()) {
        return;
    }
    context.console.err << "ostrelctl: warning: the file comes from firmware "
                        << backup.firmwareMajor << "." << backup.firmwareMinor
                        << " and the controller runs " << firmwareText(status)
                        << "; values are converted where the two measure them differently\n";
}

// --- status ------------------------------------------------------------------------------

std::string fieldLabel(const StatusField& field) {
    return utf8(ui::mainControlLabel(field.control));
}

std::string fieldValue(const StatusField& field, const StatusTexts& texts) {
    const std::string unit = utf8(ui::mainControlUnit(field.control));
    const std::string& text = texts.view.*field.text;
    return unit.empty() ? text : text + " " + unit;
}

std::string csvHeader() {
    std::string line = "time,firmware,mode";
    for (const StatusField& field : STATUS_FIELDS) {
        std::string label = fieldLabel(field);
        if (!label.empty() && label.back() == ':') {
            label.pop_back();
        }
        line += "," + label;
    }
    return line;
}

std::string csvLine(const StatusReport& status, const StatusTexts& texts) {
    std::string line = utcNow() + "," + firmwareText(status) + "," + std::to_string(status.mode);
    for (const StatusField& field : STATUS_FIELDS) {
        line += "," + texts.view.*field.text;
    }
    return line;
}

void printStatus(std::ostream& out, const StatusOptions& options, const StatusReport& status,
                 const StatusTexts& texts, bool watching) {
    if (options.json) {
        out << (watching ? statusJson(status, texts, true).dump()
                         : statusJson(status, texts, false).dump(2))
            << '\n';
    } else if (options.csv) {
        out << csvLine(status, texts) << '\n';
    } else if (watching) {
        std::string line = utcNow() + "  " + texts.caption;
        for (const StatusField& field : STATUS_FIELDS) {
            line += "  " + fieldLabel(field) + " " + fieldValue(field, texts);
        }
        out << line << '\n';
    } else {
        out << texts.caption << '\n';
        for (const StatusField& field : STATUS_FIELDS) {
            std::string label = fieldLabel(field);
            label.resize(std::max<std::size_t>(label.size() + 1, 16), ' ');
            out << label << fieldValue(field, texts) << '\n';
        }
    }
    out.flush();
}

// Waits until `until` or Ctrl-C; false on Ctrl-C.
bool pause(CommandContext& context, Clock::time_point until) {
    constexpr auto SLICE = std::chrono::milliseconds(20);
    while (!context.interrupted.load()) {
        const auto now = Clock::now();
        if (now >= until) {
            return true;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(SLICE, until - now));
    }
    return false;
}

// --- parameters --------------------------------------------------------------------------

bool resolveAll(CommandContext& context, const ParamTable& table,
                const std::vector<std::string>& queries, std::vector<int>& rows) {
    bool ok = true;
    for (const std::string& query : queries) {
        const ParamMatch match = resolveParam(table, cp1252::fromUtf8(query));
        if (match.row < 0) {
            fail(context, EXIT_USAGE, describeMismatch(table, cp1252::fromUtf8(query), match));
            ok = false;
        } else {
            rows.push_back(match.row);
        }
    }
    return ok;
}

bool holds(const ParamDef& row, const ParamReport& value, const EncodedValue& wanted) {
    return rawValue(row, value.first, value.second) == rawValue(row, wanted);
}

std::string join(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

}  // namespace

bool readBackupText(CommandContext& context, const std::string& path, std::string& content) {
    Backup backup;
    return readInput(context, path, content) && parseChecked(context, path, content, backup);
}

int commandDevices(CommandContext& context, bool asJson) {
    platform::HidPlatform& platform = context.platforms.platform(context.global.simulated);
    const std::vector<std::unique_ptr<HIDDescriptor>> found =
        findControllers(platform, context.global.verbose ? context.console.diagnostics : nullptr);
    Controller::Options options;
    options.timeout = std::chrono::milliseconds(context.global.timeoutMs);
    json list = json::array();
    std::ostream& out = context.console.out;
    if (!asJson && !found.empty()) {
        out << "LOCATION  DEVICE  PRODUCT  FIRMWARE  MODE\n";
    }
    for (const auto& descriptor : found) {
        // One status request each, unclaimed as status is: harmless to whoever holds it.
        ParamTable table;
        Controller controller(platform, table, options);
        StatusReport status;
        const bool answered = controller.open(*descriptor) == Controller::Found::One &&
                              controller.status(status) == Outcome::Ok;
        char product[8];
        std::snprintf(product, sizeof product, "0x%04x", descriptor->productId);
        if (asJson) {
            json item = {{"location", descriptor->location},
                         {"path", descriptor->path},
                         {"productId", descriptor->productId},
                         {"answered", answered}};
            item["firmware"] = answered ? json(firmwareText(status)) : json(nullptr);
            item["mode"] = answered ? json(status.mode) : json(nullptr);
            list.push_back(std::move(item));
        } else {
            out << locationText(*descriptor) << "  " << descriptor->path << "  " << product << "  "
                << (answered ? firmwareText(status) + "  " + std::to_string(status.mode)
                             : std::string("no answer"))
                << '\n';
        }
    }
    if (asJson) {
        out << list.dump(2) << '\n';
    } else if (found.empty()) {
        out << "no controller found\n";
    }
    return EXIT_OK;
}

int commandStatus(CommandContext& context, const StatusOptions& options) {
    if (options.json && options.csv) {
        return fail(context, EXIT_USAGE, "--json and --csv exclude each other");
    }
    Session session(context);
    // Status reports are harmless to the window and to another command: no claim.
    if (const int code = session.start(false); code != EXIT_OK) {
        return code;
    }
    std::ostream& out = context.console.out;
    const bool watching = options.watchSeconds > 0;
    if (!watching) {
        if (options.csv) {
            out << csvHeader() << '\n';
        }
        printStatus(out, options, session.status(), statusTexts(session.table(), session.status()),
                    false);
        return EXIT_OK;
    }
    if (options.csv) {
        out << csvHeader() << '\n';
    }
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.watchSeconds));
    auto next = Clock::now();
    for (;;) {
        printStatus(out, options, session.status(), statusTexts(session.table(), session.status()),
                    true);
        if (!out) {
            return EXIT_OK;  // nobody reads any more
        }
        next += period;
        if (!pause(context, next)) {
            return EXIT_OK;
        }
        if (const int code =
                session.check(session.controller().status(session.status()), "the status request");
            code != EXIT_OK) {
            return code;
        }
    }
}

int commandList(CommandContext& context, bool asJson) {
    const ParamTable table;
    std::ostream& out = context.console.out;
    json list = json::array();
    if (!asJson) {
        out << "ROW ADDR SIZE UNIT        NAME (SHORT NAME)\n";
    }
    for (const int index : table.offeredRows()) {
        const ParamDef& row = table.row(index);
        if (asJson) {
            list.push_back({{"row", index},
                            {"address", row.address},
                            {"size", row.size},
                            {"name", utf8(row.name)},
                            {"shortName", shortName(row.name)},
                            {"unit", utf8(row.unit)},
                            {"description", utf8(row.description)}});
            continue;
        }
        char head[32];
        std::snprintf(head, sizeof head, "%3d 0x%02X %4d ", index,
                      static_cast<unsigned>(row.address), static_cast<int>(row.size));
        // Padded by characters, not bytes: the unit is CP-1252, one byte a character, while
        // its UTF-8 takes two bytes for the degree sign.
        const std::size_t unitWidth = std::strlen(row.unit);
        const std::string unit =
            utf8(row.unit) + std::string(std::max<std::size_t>(unitWidth + 1, 12) - unitWidth, ' ');
        out << head << unit << utf8(row.name) << " (" << shortName(row.name) << ")\n"
            << std::string(26, ' ') << utf8(row.description) << '\n';
    }
    if (asJson) {
        out << list.dump(2) << '\n';
    }
    return EXIT_OK;
}

int commandGet(CommandContext& context, const std::vector<std::string>& params, bool all,
               bool asJson) {
    if (all == !params.empty()) {
        return fail(context, EXIT_USAGE, "name the parameters to read, or give --all");
    }
    std::vector<int> rows;
    {
        const ParamTable names;
        if (all) {
            rows = valueRows(names);
        } else if (!resolveAll(context, names, params, rows)) {
            return EXIT_USAGE;
        }
    }
    Session session(context);
    if (const int code = session.start(); code != EXIT_OK) {
        return code;
    }
    json values = json::array();
    for (const int index : rows) {
        ParamReport value;
        if (const int code = session.read(index, value); code != EXIT_OK) {
            return code;
        }
        const ParamDef& row = session.table().row(index);
        const std::string text = utf8(decodeParamValue(row, value.first, value.second).c_str());
        if (asJson) {
            values.push_back({{"row", index},
                              {"address", row.address},
                              {"name", utf8(row.name)},
                              {"raw", rawValue(row, value.first, value.second)},
                              {"text", text},
                              {"unit", utf8(row.unit)}});
        } else {
            context.console.out << utf8(row.name) << ": " << withUnit(row, text) << '\n';
        }
    }
    if (asJson) {
        context.console.out << values.dump(2) << '\n';
    }
    return EXIT_OK;
}

int commandSet(CommandContext& context, const std::string& param, const std::string& value) {
    int index = -1;
    {
        const ParamTable names;
        std::vector<int> rows;
        if (!resolveAll(context, names, {param}, rows)) {
            return EXIT_USAGE;
        }
        index = rows.front();
        if (names.row(index).kind == PK_ACTION) {
            return fail(context, EXIT_USAGE,
                        quotedUtf8(names.row(index).name) +
                            " is an action; \"ostrelctl factory-reset --yes\" sends it");
        }
        // Refused by every firmware: refused before the controller is even looked for.
        if (const std::string refusal = refusalOnEveryFirmware(index, value); !refusal.empty()) {
            return fail(context, EXIT_USAGE, refusal);
        }
    }
    Session session(context);
    if (const int code = session.start(); code != EXIT_OK) {
        return code;
    }
    // Now with this controller's factors, before anything is written.
    const ParamDef& row = session.table().row(index);
    const StrictValue strict = parseStrictValue(row, value);
    if (!strict.value) {
        return fail(context, EXIT_USAGE, strict.message);
    }
    const EncodedValue encoded = *strict.value;
    if (!strict.message.empty()) {
        context.console.out << utf8(row.name) << ": " << strict.message << '\n';
    }
    if (const int code = session.check(session.controller().write(row, encoded),
                                       "the write of \"" + utf8(row.name) + "\"");
        code != EXIT_OK) {
        return code;
    }
    ParamReport readBack;
    if (const int code = session.readBack(index, encoded, readBack); code != EXIT_OK) {
        return code;
    }
    const std::string held = currentText(row, readBack);
    if (context.tally != nullptr) {
        context.tally->written = 1;
        (holds(row, readBack, encoded) ? context.tally->verified : context.tally->failed) = 1;
    }
    if (!holds(row, readBack, encoded)) {
        return fail(context, EXIT_TIMEOUT,
                    quotedUtf8(row.name) + " did not read back: written " +
                        valueText(row, encoded) + ", the controller holds " + held);
    }
    context.console.out << utf8(row.name) << ": " << held << " (written and read back)\n";
    return EXIT_OK;
}

int commandBackup(CommandContext& context, const std::string& file) {
    const auto started = Clock::now();
    Session session(context);
    if (const int code = session.start(); code != EXIT_OK) {
        return code;
    }
    std::vector<ReadValue> values;
    for (const int index : valueRows(session.table())) {
        ParamReport value;
        if (const int code = session.read(index, value); code != EXIT_OK) {
            context.console.err << "ostrelctl: no file was written\n";
            return code;
        }
        values.push_back({index, value.first, value.second});
    }
    BackupInfo info;
    info.status = session.status();
    info.takenAt = utcNow();
    info.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    if (!writeOutput(context, file, backupJson(session.table(), info, values).dump(2) + "\n")) {
        return EXIT_USAGE;
    }
    std::ostream& report = file == "-" ? context.console.err : context.console.out;
    report << values.size() << " parameters of firmware " << firmwareText(info.status)
           << " saved to " << file << " in " << info.durationMs << " ms\n";
    return EXIT_OK;
}

namespace {

// One entry of a restore or diff: the file's value planned for this controller, and what the
// controller holds now.
struct Planned {
    int row;
    PlannedValue value;
    ParamReport current;
};

bool differs(const ParamTable& table, const Planned& item) {
    return !item.value.exact || !holds(table.row(item.row), item.current, item.value.wanted);
}

// Plans every entry with the controller's factors and reads what it holds now. A text this
// controller cannot take is refused here, before anything is written.
int planEntries(CommandContext& context, Session& session, const Backup& backup,
                std::vector<Planned>& plan) {
    const ParamTable file = backupTable(backup);
    bool refused = false;
    for (const BackupEntry& entry : backup.entries) {
        PlannedValue value = planValue(file, session.table(), entry);
        if (!value.taken) {
            fail(context, EXIT_USAGE, value.message);
            refused = true;
        }
        plan.push_back({entry.row, std::move(value), {}});
    }
    if (refused) {
        return EXIT_USAGE;
    }
    for (Planned& item : plan) {
        if (const int code = session.read(item.row, item.current); code != EXIT_OK) {
            return code;
        }
    }
    return EXIT_OK;
}

// Across firmware families: every value this controller cannot hold exactly, with both
// values. Without --convert that refuses the whole restore.
int checkConversions(CommandContext& context, Session& session, const Backup& backup,
                     const std::vector<Planned>& plan, bool convert) {
    std::size_t inexact = 0;
    for (const Planned& item : plan) {
        if (item.value.exact) {
            continue;
        }
        ++inexact;
        const ParamDef& row = session.table().row(item.row);
        const std::string line = utf8(row.name) + ": file " + withUnit(row, item.value.fileText) +
                                 ", nearest on this controller " +
                                 valueText(row, item.value.wanted);
        if (convert) {
            context.console.out << "converted " << line << '\n';
        } else {
            context.console.err << "ostrelctl: " << line << '\n';
        }
    }
    if (inexact == 0 || convert) {
        return EXIT_OK;
    }
    return fail(context, EXIT_USAGE,
                std::to_string(inexact) + " values of firmware " +
                    std::to_string(backup.firmwareMajor) + "." +
                    std::to_string(backup.firmwareMinor) +
                    " cannot be held exactly by this controller (firmware " +
                    firmwareText(session.status()) +
                    "); nothing was written; --convert writes the nearest values");
}

// The restore's summary, and how to finish one that stopped part way.
void printSummary(std::ostream& out, std::size_t unchanged,
                  const std::vector<std::string>& verified, const std::vector<std::string>& failed,
                  const std::vector<std::string>& notWritten, bool stopped) {
    out << "Restore: " << unchanged << " unchanged, " << verified.size()
        << " written and verified, " << failed.size() << " failed";
    if (!notWritten.empty()) {
        out << ", " << notWritten.size() << " not written";
    }
    out << '\n';
    if (!verified.empty() && stopped) {
        out << "Written and verified: " << join(verified) << '\n';
    }
    if (!failed.empty()) {
        out << "Failed: " << join(failed) << '\n';
    }
    if (!notWritten.empty()) {
        out << "Not written: " << join(notWritten) << '\n';
    }
    if (const std::size_t left = failed.size() + notWritten.size(); left > 0) {
        out << "Run the same restore again to write the " << left
            << (left == 1 ? " parameter" : " parameters") << " left\n";
    }
}

}  // namespace

int commandRestore(CommandContext& context, const std::string& file,
                   const RestoreOptions& options) {
    Backup backup;
    if (!loadBackup(context, file, backup)) {
        context.console.err << "ostrelctl: nothing was written\n";
        return EXIT_USAGE;
    }
    Session session(context);
    if (const int code = session.start(); code != EXIT_OK) {
        context.console.err << "ostrelctl: nothing was written\n";
        return code;
    }
    warnFirmware(context, backup, session.status());
    std::vector<Planned> plan;
    if (const int code = planEntries(context, session, backup, plan); code != EXIT_OK) {
        context.console.err << "ostrelctl: nothing was written\n";
        return code;
    }
    if (const int code = checkConversions(context, session, backup, plan, options.convert);
        code != EXIT_OK) {
        return code;
    }

    std::ostream& out = context.console.out;
    std::size_t unchanged = 0;
    std::vector<std::string> verified;
    std::vector<std::string> failed;
    std::vector<std::string> notWritten;
    int code = EXIT_OK;
    for (const Planned& item : plan) {
        const ParamDef& row = session.table().row(item.row);
        const std::string name = utf8(row.name);
        if (!item.value.message.empty()) {
            out << name << ": " << item.value.message << '\n';
        }
        if (holds(row, item.current, item.value.wanted)) {
            ++unchanged;
            continue;
        }
        if (options.dryRun) {
            out << "would write " << name << ": " << currentText(row, item.current) << " -> "
                << valueText(row, item.value.wanted) << '\n';
            notWritten.push_back(name);
            continue;
        }
        if (code != EXIT_OK) {
            notWritten.push_back(name);
            continue;
        }
        code = session.check(session.controller().write(row, item.value.wanted),
                             "the write of \"" + name + "\"");
        if (code != EXIT_OK) {
            notWritten.push_back(name);
            continue;
        }
        ParamReport readBack;
        code = session.readBack(item.row, item.value.wanted, readBack);
        if (code != EXIT_OK) {
            failed.push_back(name + " (written, not read back)");
            continue;
        }
        if (holds(row, readBack, item.value.wanted)) {
            out << "written " << name << ": " << currentText(row, item.current) << " -> "
                << currentText(row, readBack) << '\n';
            verified.push_back(name);
        } else {
            failed.push_back(name + " (holds " + currentText(row, readBack) + ", not " +
                             valueText(row, item.value.wanted) + ")");
        }
    }

    if (options.dryRun) {
        out << "Dry run: " << unchanged << " unchanged, " << notWritten.size()
            << " would be written; nothing was written\n";
        return EXIT_OK;
    }
    printSummary(out, unchanged, verified, failed, notWritten, code != EXIT_OK);
    if (context.tally != nullptr) {
        context.tally->written = static_cast<int>(verified.size() + failed.size());
        context.tally->verified = static_cast<int>(verified.size());
        context.tally->failed = static_cast<int>(failed.size() + notWritten.size());
    }
    if (code == EXIT_OK && !failed.empty()) {
        return fail(context, EXIT_TIMEOUT,
                    std::to_string(failed.size()) + " written values did not read back");
    }
    return code;
}

int commandDiff(CommandContext& context, const std::string& file, const DiffOptions& options) {
    Backup backup;
    if (!loadBackup(context, file, backup)) {
        return EXIT_USAGE;
    }
    Session session(context);
    if (const int code = session.start(); code != EXIT_OK) {
        return code;
    }
    warnFirmware(context, backup, session.status());
    std::vector<Planned> plan;
    if (const int code = planEntries(context, session, backup, plan); code != EXIT_OK) {
        return code;
    }
    json differences = json::array();
    std::ostream& out = context.console.out;
    std::size_t count = 0;
    for (const Planned& item : plan) {
        const ParamDef& row = session.table().row(item.row);
        if (!differs(session.table(), item)) {
            continue;
        }
        ++count;
        const std::string controllerText =
            utf8(decodeParamValue(row, item.current.first, item.current.second).c_str());
        if (options.json) {
            differences.push_back({{"row", item.row},
                                   {"address", row.address},
                                   {"name", utf8(row.name)},
                                   {"file", item.value.fileText},
                                   {"controller", controllerText},
                                   {"unit", utf8(row.unit)}});
        } else {
            out << utf8(row.name) << ": file " << withUnit(row, item.value.fileText)
                << ", controller " << withUnit(row, controllerText) << '\n';
        }
    }
    if (options.json) {
        out << json{{"compared", plan.size()}, {"differences", differences}}.dump(2) << '\n';
    } else {
        out << count << " of " << plan.size() << " parameters differ\n";
    }
    if (options.exitCode && count > 0) {
        return fail(context, EXIT_DIFFERS,
                    std::to_string(count) + " of " + std::to_string(plan.size()) +
                        " parameters differ from the file");
    }
    return EXIT_OK;
}

int commandFactoryReset(CommandContext& context, bool yes) {
    if (!yes) {
        return fail(context, EXIT_USAGE,
                    "factory-reset sets every parameter back to its factory value; give --yes "
                    "to do it");
    }
    Session session(context);
    if (const int code = session.start(); code != EXIT_OK) {
        return code;
    }
    const ParamTable& table = session.table();
    for (const int index : table.offeredRows()) {
        const ParamDef& row = table.row(index);
        if (row.kind != PK_ACTION) {
            continue;
        }
        const std::optional<EncodedValue> value = encodeParamValue(row, "");
        if (const int code =
                session.check(session.controller().write(row, *value), "the factory reset");
            code != EXIT_OK) {
            return code;
        }
        if (context.tally != nullptr) {
            context.tally->written = 1;
        }
        context.console.out << "Factory reset sent. " << utf8(row.description) << '\n';
        return EXIT_OK;
    }
    return fail(context, EXIT_USAGE, "the parameter table has no factory reset");
}

// --- metrics -----------------------------------------------------------------------------

int commandMetrics(CommandContext& context, const std::string& output) {
    std::vector<Reading> readings;
    if (const int code = gatherReadings(context, readings); code != EXIT_OK) {
        return code;
    }
    // A silent controller is in the exposition (ostrel_up 0) and said here, for the journal;
    // the run still succeeds, as its file is what the monitoring reads.
    for (const Reading& reading : readings) {
        if (!reading.answered) {
            context.console.err << "ostrelctl: the controller at " << reading.location
                                << " did not answer\n";
        }
    }
    const std::string exposition = formatMetrics(readings);
    if (output.empty() || output == "-") {
        context.console.out << exposition;
        return EXIT_OK;
    }
    if (const std::string error = writeWholeFile(output, exposition); !error.empty()) {
        return fail(context, EXIT_USAGE, error);
    }
    return EXIT_OK;
}

}  // namespace ctl
