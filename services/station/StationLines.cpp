#include "services/station/StationLines.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "core/files/Sha256.h"
#include "core/texts/OutsideText.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace ctl {
namespace {

using json = nlohmann::ordered_json;

// Columns of UTF-8 text: every byte that does not continue a character.
std::size_t columns(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text) {
        count += (static_cast<unsigned char>(c) & 0xC0) == 0x80 ? 0 : 1;
    }
    return count;
}

// The first `keep` columns of `text`, never half a character.
std::string firstColumns(const std::string& text, std::size_t keep) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == keep) {
            return text.substr(0, i);
        }
    }
    return text;
}

// `text` (escaped) cut to `room` columns, "..." standing for the rest.
std::string cutTo(const std::string& text, std::size_t room) {
    constexpr std::string_view CUT = "...";
    if (columns(text) <= room) {
        return text;
    }
    return room > CUT.size() ? firstColumns(text, room - CUT.size()) + std::string(CUT)
                             : std::string();
}

std::string plural(std::size_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

}  // namespace

std::string hostName() {
#ifdef _WIN32
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (GetComputerNameA(name, &size) && size > 0) {
        return std::string(name, size);
    }
#else
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') {
        return name;
    }
#endif
    return "unknown";
}

std::string readbackDigest(const std::vector<std::pair<int, ParamReport>>& sizedValues) {
    std::string bytes;
    for (const auto& [size, value] : sizedValues) {
        bytes += static_cast<char>(value.address);
        bytes += static_cast<char>(value.first);
        if (size == 2) {
            bytes += static_cast<char>(value.second);
        }
    }
    return sha256Hex(bytes);
}

json lineHead(std::size_t seq, const char* event, const StationHeader& header) {
    return {{"seq", seq},
            {"time", utcText(std::chrono::system_clock::now(), true)},
            {"event", event},
            {"station", header.station},
            {"host", header.host},
            {"profile", header.profile},
            {"profileSha256", header.profileSha256}};
}

void unitFields(json& line, const std::string& location, const std::string& serial, int productId,
                const std::optional<std::string>& label, const UnitResult& result) {
    char product[8];
    std::snprintf(product, sizeof product, "0x%04x", static_cast<unsigned>(productId) & 0xFFFF);
    line["location"] = location;
    // Null rather than left out, so that every unit line has the same keys.
    line["serial"] = serial.empty() ? json(nullptr) : json(serial);
    line["product"] = product;
    line["firmware"] = result.firmware.empty() ? json(nullptr) : json(result.firmware);
    line["label"] = label ? json(*label) : json(nullptr);
    resultFields(line, result);
}

void resultFields(json& line, const UnitResult& result) {
    json names = json::array();
    json reasons = json::object();
    for (const auto& [name, why] : result.failed) {
        names.push_back(name);
        reasons[name] = why;
    }
    line["result"] = result.passed() ? "PASS" : "FAIL";
    line["written"] = result.written;
    line["verified"] = result.verified;
    line["failed"] = result.failed.size();
    line["failedParameters"] = std::move(names);
    line["failedReasons"] = std::move(reasons);
    line["reason"] = result.reason;
    line["seconds"] = std::round(result.seconds * 1000) / 1000;
    line["readbackSha256"] =
        result.readbackSha256.empty() ? json(nullptr) : json(result.readbackSha256);
}

std::string countText(std::size_t passed, std::size_t failed,
                      const std::map<std::string, int>& lastOfPort) {
    const std::size_t units = passed + failed;
    if (units == 0) {
        return "0 units";
    }
    std::size_t lastFailed = 0;
    for (const auto& [port, code] : lastOfPort) {
        lastFailed += code == EXIT_OK ? 0 : 1;
    }
    const std::string ports = plural(lastOfPort.size(), "port");
    if (failed == 0) {
        return plural(units, "unit") + ", all PASS (" + ports + ")";
    }
    const std::string counts = plural(units, "unit") + ": " + std::to_string(passed) + " PASS, " +
                               std::to_string(failed) + " FAIL; ";
    if (lastFailed == 0) {
        return counts + "the last unit on each of " + ports + " PASS";
    }
    return counts + "the last unit on " + std::to_string(lastFailed) + " of " + ports + " FAIL";
}

std::string benchLine(const std::string& location, std::size_t pad, const char* word,
                      const char* colour, const std::string& text, const std::string& tail,
                      int width) {
    const std::string where = escapeControls(location);
    const std::string head =
        where + std::string(pad > columns(where) ? pad - columns(where) : 0, ' ') + "  ";
    std::string body = escapeControls(text);
    if (width > 0) {
        const std::size_t fixed = columns(head) + columns(word) + 2 + columns(tail);
        body = cutTo(body, static_cast<std::size_t>(width) > fixed
                               ? static_cast<std::size_t>(width) - fixed
                               : 0);
    }
    const std::string shown =
        colour == nullptr ? std::string(word) : std::string(colour) + word + "\x1b[0m";
    return head + shown + "  " + body + tail;
}

std::string fitLine(const std::string& text, int width) {
    const std::string escaped = escapeControls(text);
    return width > 0 ? cutTo(escaped, static_cast<std::size_t>(width)) : escaped;
}

}  // namespace ctl
