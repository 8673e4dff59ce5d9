#include "sim/PlugPlan.h"

#include <algorithm>
#include <set>
#include <utility>

#include "device/OstrelIdentity.h"
#include "sim/Seconds.h"

namespace sim {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

// 1 to SIM_MAX_CONTROLLERS, written without a leading zero.
std::optional<int> controllerNumber(std::string_view text) {
    if (!allDigits(text) || text.front() == '0' || text.size() > 2) {
        return std::nullopt;
    }
    int number = 0;
    for (const char c : text) {
        number = number * 10 + (c - '0');
    }
    return number <= SIM_MAX_CONTROLLERS ? std::optional<int>(number) : std::nullopt;
}

std::string quoted(std::string_view item) {
    std::string text(1, '"');
    text.append(item);
    text += '"';
    return text;
}

// One ACTION:N@SECONDS; false after saying what is wrong with it.
bool parseItem(std::string_view item, PlugStep& step, std::string& error) {
    const std::size_t colon = item.find(':');
    const std::size_t at = item.find('@');
    if (colon == std::string_view::npos || at == std::string_view::npos || at < colon) {
        error = "the plug plan item " + quoted(item) + " is not plug:N@SECONDS or unplug:N@SECONDS";
        return false;
    }
    const std::string_view action = item.substr(0, colon);
    const std::string_view number = item.substr(colon + 1, at - colon - 1);
    std::string_view seconds = item.substr(at + 1);
    const std::size_t equals = seconds.find('=');
    if (equals != std::string_view::npos) {
        const std::string_view serial = seconds.substr(equals + 1);
        seconds = seconds.substr(0, equals);
        const bool clean = std::all_of(serial.begin(), serial.end(), [](char c) {
            return isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' ||
                   c == '-' || c == '_';
        });
        if (serial.empty() || serial.size() > PLUG_PLAN_MAX_SERIAL || !clean) {
            error = "the plug plan item " + quoted(item) + " has the serial number " +
                    quoted(serial) + ": 1 to " + std::to_string(PLUG_PLAN_MAX_SERIAL) +
                    " letters, digits, '.', '-' and '_'";
            return false;
        }
        step.serial = serial;
    }
    if (action == "plug") {
        step.action = PlugAction::Plug;
    } else if (action == "unplug") {
        step.action = PlugAction::Unplug;
        if (!step.serial.empty()) {
            error = "the plug plan item " + quoted(item) +
                    " gives a serial number to an unplug: only a plug takes one";
            return false;
        }
    } else {
        error = "the plug plan item " + quoted(item) + " names " + quoted(action) +
                ": the action is plug or unplug";
        return false;
    }
    const std::optional<int> controller = controllerNumber(number);
    if (!controller) {
        error = "the plug plan item " + quoted(item) + " names controller " + quoted(number) +
                ": a number from 1 to " + std::to_string(SIM_MAX_CONTROLLERS);
        return false;
    }
    step.controller = *controller;
    const std::optional<std::chrono::milliseconds> time = readSeconds(seconds, PLUG_PLAN_MAX_TIME);
    if (!time) {
        error = "the plug plan item " + quoted(item) + " has the time " + quoted(seconds) +
                ": seconds from 0 to " + secondsText(PLUG_PLAN_MAX_TIME) +
                " as a decimal number with at most " + std::to_string(SECONDS_DECIMALS) +
                " decimals, such as 2 or 0.25";
        return false;
    }
    step.at = *time;
    return true;
}

}  // namespace

std::optional<std::vector<PlugStep>> parsePlugPlan(std::string_view text, std::string& error) {
    struct Item {
        PlugStep step;
        std::string_view text;
    };
    std::vector<Item> items;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t comma = text.find(',', begin);
        const std::string_view item = text.substr(begin, comma - begin);
        if (item.empty()) {
            error = "the plug plan has an empty item (item " + std::to_string(items.size() + 1) +
                    "): write plug:N@SECONDS or unplug:N@SECONDS between the commas";
            return std::nullopt;
        }
        Item parsed{{}, item};
        if (!parseItem(item, parsed.step, error)) {
            return std::nullopt;
        }
        items.push_back(parsed);
        if (comma == std::string_view::npos) {
            break;
        }
        begin = comma + 1;
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const Item& a, const Item& b) { return a.step.at < b.step.at; });
    // Played through in time order: each plug finds its controller out, each unplug in.
    std::set<int> plugged;
    std::vector<PlugStep> steps;
    for (const Item& item : items) {
        const int number = item.step.controller;
        const bool in = plugged.count(number) != 0;
        const std::string when = " at " + secondsText(item.step.at) + " s";
        if (item.step.action == PlugAction::Plug && in) {
            error = "the plug plan item " + quoted(item.text) + " plugs in sim-" +
                    std::to_string(number) + ", which is plugged in" + when;
            return std::nullopt;
        }
        if (item.step.action == PlugAction::Unplug && !in) {
            error = "the plug plan item " + quoted(item.text) + " pulls out sim-" +
                    std::to_string(number) + ", which is not plugged in" + when;
            return std::nullopt;
        }
        if (in) {
            plugged.erase(number);
        } else {
            plugged.insert(number);
        }
        steps.push_back(item.step);
    }
    return steps;
}

PlugPlanRunner::PlugPlanRunner(platform::SimHidPlatform& platform, std::vector<PlugStep> plan,
                               bool busTiming, Prepare prepare)
    : m_platform(platform),
      m_plan(std::move(plan)),
      m_busTiming(busTiming),
      m_prepare(std::move(prepare)) {}

PlugPlanRunner::~PlugPlanRunner() {
    stop();
}

std::size_t PlugPlanRunner::applyUntil(std::chrono::milliseconds elapsed) {
    std::lock_guard lock(m_mutex);
    std::size_t done = 0;
    for (; m_next < m_plan.size() && m_plan[m_next].at <= elapsed; ++m_next, ++done) {
        const PlugStep& step = m_plan[m_next];
        std::unique_ptr<SimulatedOstrel>& controller = m_controllers[step.controller];
        if (step.action == PlugAction::Unplug) {
            if (controller) {
                controller->unplug();
            }
        } else if (!controller) {
            controller = std::make_unique<SimulatedOstrel>(
                m_platform, OSTREL_PRODUCT_ID, std::string(),
                "sim-" + std::to_string(step.controller), step.serial);
            controller->setBusTiming(m_busTiming);
            if (m_prepare) {
                m_prepare(*controller);
            }
        } else {
            controller->replug(step.serial);
        }
    }
    return done;
}

void PlugPlanRunner::start() {
    stop();
    {
        std::lock_guard lock(m_mutex);
        m_stop = false;
    }
    m_thread = std::thread([this, start = std::chrono::steady_clock::now()] { run(start); });
}

void PlugPlanRunner::run(std::chrono::steady_clock::time_point start) {
    for (;;) {
        std::chrono::steady_clock::time_point due;
        {
            std::unique_lock lock(m_mutex);
            if (m_next >= m_plan.size()) {
                return;
            }
            due = start + m_plan[m_next].at;
            if (m_stopped.wait_until(lock, due, [this] { return m_stop; })) {
                return;
            }
        }
        applyUntil(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start));
    }
}

void PlugPlanRunner::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_stopped.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool PlugPlanRunner::finished() const {
    std::lock_guard lock(m_mutex);
    return m_next >= m_plan.size();
}

SimulatedOstrel* PlugPlanRunner::controller(int number) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_controllers.find(number);
    return found != m_controllers.end() ? found->second.get() : nullptr;
}

}  // namespace sim
