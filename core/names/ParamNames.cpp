#include "core/names/ParamNames.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "params/Cp1252.h"

namespace ctl {
namespace {

constexpr std::size_t MAX_CANDIDATES = 5;

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool alnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// "0x03" or "0X3": the address, or -1.
int parseAddress(std::string_view text) {
    if (text.size() < 3 || text.size() > 4 || text[0] != '0' || lower(text[1]) != 'x') {
        return -1;
    }
    int value = 0;
    for (const char c : text.substr(2)) {
        const char l = lower(c);
        int digit = -1;
        if (l >= '0' && l <= '9') {
            digit = l - '0';
        } else if (l >= 'a' && l <= 'f') {
            digit = l - 'a' + 10;
        }
        if (digit < 0) {
            return -1;
        }
        value = value * 16 + digit;
    }
    return value;
}

std::vector<std::string_view> words(std::string_view slug) {
    std::vector<std::string_view> result;
    std::size_t start = 0;
    while (start <= slug.size()) {
        const std::size_t end = std::min(slug.find('-', start), slug.size());
        result.push_back(slug.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

// Each word of the query starts a word of the name, in order: "min-temp" fits
// "minimum-temperature".
bool abbreviates(std::string_view query, std::string_view name) {
    const std::vector<std::string_view> wanted = words(query);
    const std::vector<std::string_view> have = words(name);
    std::size_t next = 0;
    for (const std::string_view word : wanted) {
        while (next < have.size() && have[next].substr(0, word.size()) != word) {
            ++next;
        }
        if (next == have.size()) {
            return false;
        }
        ++next;
    }
    return true;
}

}  // namespace

std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string shortName(std::string_view name) {
    std::string result;
    bool pendingDash = false;
    for (const char c : name) {
        if (alnum(c)) {
            if (pendingDash && !result.empty()) {
                result.push_back('-');
            }
            pendingDash = false;
            result.push_back(lower(c));
        } else {
            pendingDash = true;
        }
    }
    return result;
}

int resolveParamExactly(const ParamTable& table, std::string_view query) {
    const int address = parseAddress(query);
    const std::string wanted = shortName(query);
    for (const int index : table.offeredRows()) {
        const ParamDef& row = table.row(index);
        if (equalIgnoringCase(row.name, query) || (address >= 0 && row.address == address) ||
            (!wanted.empty() && equalIgnoringCase(shortName(row.name), query))) {
            return index;
        }
    }
    return -1;
}

ParamMatch resolveParam(const ParamTable& table, std::string_view query) {
    ParamMatch match;
    match.row = resolveParamExactly(table, query);
    if (match.row >= 0) {
        return match;
    }
    const std::string wanted = shortName(query);
    if (!wanted.empty()) {
        for (const int index : table.offeredRows()) {
            const std::string name = shortName(table.row(index).name);
            if (name.find(wanted) != std::string::npos || abbreviates(wanted, name)) {
                match.candidates.push_back(index);
            }
        }
    }
    if (match.candidates.size() == 1) {
        match.row = match.candidates.front();
        match.candidates.clear();
        return match;
    }
    if (match.candidates.size() > 1) {
        match.ambiguous = true;
        return match;
    }
    // Nothing contains it: the names nearest to it by spelling.
    std::vector<std::pair<std::size_t, int>> scored;
    const std::size_t limit = std::max<std::size_t>(3, wanted.size() / 3);
    for (const int index : table.offeredRows()) {
        const std::size_t distance = editDistance(wanted, shortName(table.row(index).name));
        if (distance <= limit) {
            scored.emplace_back(distance, index);
        }
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [distance, index] : scored) {
        if (match.candidates.size() == MAX_CANDIDATES) {
            break;
        }
        match.candidates.push_back(index);
    }
    return match;
}

std::string utf8(const char* cp1252Text) {
    return cp1252::toUtf8(cp1252Text);
}

std::string describeMismatch(const ParamTable& table, std::string_view query,
                             const ParamMatch& match) {
    std::string text = quotedUtf8(query);
    text += match.ambiguous ? " matches several parameters" : " is not a parameter";
    if (match.candidates.empty()) {
        return text + " (\"ostrelctl list\" shows them all)";
    }
    text += match.ambiguous ? ": " : "; close matches: ";
    for (std::size_t i = 0; i < match.candidates.size(); ++i) {
        const ParamDef& row = table.row(match.candidates[i]);
        text += (i == 0 ? "" : ", ") + cp1252::toUtf8(row.name) + " (" + shortName(row.name) + ")";
    }
    return text;
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

}  // namespace ctl
