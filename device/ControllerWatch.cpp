#include "device/ControllerWatch.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "device/HIDDevices.h"

namespace {

using Clock = std::chrono::steady_clock;

// Device paths are compared as the systems compare them at most: Windows ignores case, and
// its notifications need not spell a path as its search does.
bool samePath(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

bool sameController(const HIDDescriptor& a, const HIDDescriptor& b) {
    return a.path == b.path && a.location == b.location;
}

bool among(const HIDDescriptor& wanted, const std::vector<HIDDescriptor>& list) {
    return std::any_of(list.begin(), list.end(),
                       [&](const HIDDescriptor& item) { return sameController(wanted, item); });
}

// Whole milliseconds up to `limit`, rounded up so that a wait never ends before it.
std::uint32_t waitMs(Clock::duration limit) {
    if (limit <= Clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(limit).count();
    return static_cast<std::uint32_t>(
        std::min<long long>(ms, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

ControllerWatch::ControllerWatch(platform::HidPlatform& platform) : m_platform(platform) {
    // Listening starts before the first search, so that nothing can come between the two
    // unseen.
    m_watch = platform.watch();
    m_polling = !m_watch;
    std::vector<ControllerEvent> none;
    const bool whole = search(none);
    m_searchAt = whole && !m_polling ? Clock::time_point::max() : Clock::now() + POLL_INTERVAL;
}

ControllerWatch::~ControllerWatch() = default;

std::vector<HIDDescriptor> ControllerWatch::attached() const {
    std::lock_guard lock(m_mutex);
    return m_attached;
}

std::vector<ControllerEvent> ControllerWatch::attachedLookalikes() const {
    std::lock_guard lock(m_mutex);
    return m_lookalikesAtStart;
}

bool ControllerWatch::cancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

bool ControllerWatch::polling() const {
    std::lock_guard lock(m_mutex);
    return m_polling;
}

void ControllerWatch::cancel() {
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
    }
    m_woken.notify_all();
    // m_watch is set once, in the constructor, and kept until the end.
    if (m_watch) {
        m_watch->cancel();
    }
}

bool ControllerWatch::search(std::vector<ControllerEvent>& events) {
    HIDDevices devices(m_platform, nullptr);
    std::vector<Lookalike> lookalikes;
    devices.collectLookalikes(&lookalikes);
    bool complete = false;
    std::vector<std::unique_ptr<HIDDescriptor>> found = findAllOstrels(devices, &complete);
    if (!complete) {
        return false;
    }
    std::vector<HIDDescriptor> now;
    now.reserve(found.size());
    for (const auto& descriptor : found) {
        now.push_back(*descriptor);
    }
    std::vector<HIDDescriptor> lookalikesNow;
    for (const Lookalike& item : lookalikes) {
        lookalikesNow.push_back(item.device);
    }
    if (!m_baseline) {
        // The first whole search tells what was attached to begin with: no arrivals.
        m_baseline = true;
        m_departed.clear();
        m_lookalikes = std::move(lookalikesNow);
        std::lock_guard lock(m_mutex);
        m_attached = std::move(now);
        for (const Lookalike& item : lookalikes) {
            m_lookalikesAtStart.push_back(
                {ControllerEvent::Kind::NotAController, item.device, item.why});
        }
        return true;
    }
    // A path the platform said went away is a new device wherever it shows again.
    const auto wentAway = [this](const HIDDescriptor& item) {
        return std::any_of(m_departed.begin(), m_departed.end(),
                           [&](const std::string& path) { return samePath(path, item.path); });
    };
    // A controller being pulled out may lose its USB device, and with it its location, a
    // moment before its node: still the one attached at that path, until the node goes.
    for (HIDDescriptor& item : now) {
        const auto before =
            std::find_if(m_attached.begin(), m_attached.end(), [&](const HIDDescriptor& old) {
                return samePath(old.path, item.path) && !old.location.empty();
            });
        if (item.location.empty() && before != m_attached.end() && !wentAway(item)) {
            item.location = before->location;
        }
    }
    std::lock_guard lock(m_mutex);
    for (const HIDDescriptor& before : m_attached) {
        if (!among(before, now) || wentAway(before)) {
            events.push_back({ControllerEvent::Kind::Departed, before, {}});
        }
    }
    for (const HIDDescriptor& after : now) {
        if (!among(after, m_attached) || wentAway(after)) {
            events.push_back({ControllerEvent::Kind::Arrived, after, {}});
        }
    }
    // A lookalike is the same one while its path stays: one going away may lose its location
    // before its node.
    const auto seenBefore = [this](const HIDDescriptor& item) {
        return std::any_of(m_lookalikes.begin(), m_lookalikes.end(),
                           [&](const HIDDescriptor& before) { return before.path == item.path; });
    };
    for (const Lookalike& item : lookalikes) {
        if (!seenBefore(item.device) || wentAway(item.device)) {
            events.push_back({ControllerEvent::Kind::NotAController, item.device, item.why});
        }
    }
    m_lookalikes = std::move(lookalikesNow);
    m_departed.clear();
    m_attached = std::move(now);
    return true;
}

bool ControllerWatch::waitForWord(std::chrono::milliseconds limit) {
    {
        std::unique_lock lock(m_mutex);
        if (m_polling) {
            return !m_woken.wait_for(lock, limit, [this] { return m_cancelled; });
        }
        if (m_cancelled) {
            return false;
        }
    }
    switch (m_watch->wait(waitMs(limit), m_departed)) {
        case platform::WatchStatus::Changed:
            m_searchAt = Clock::now();
            return true;
        case platform::WatchStatus::TimedOut:
            return true;
        case platform::WatchStatus::Cancelled:
            return false;
        case platform::WatchStatus::Failed:
            break;
    }
    // Notifications that broke down may have lost some: a search now, and by the clock from
    // then on.
    std::lock_guard lock(m_mutex);
    m_polling = true;
    m_searchAt = Clock::now();
    return true;
}

std::vector<ControllerEvent> ControllerWatch::next(std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::vector<ControllerEvent> events;
    // Notifications already there are looked at once, even with no time to wait.
    bool looked = false;
    for (;;) {
        if (cancelled()) {
            return {};
        }
        Clock::time_point now = Clock::now();
        if (now >= m_searchAt) {
            // A failed search is tried again by the clock, notifications or not.
            const bool whole = search(events);
            m_searchAt =
                whole && !polling() ? Clock::time_point::max() : Clock::now() + POLL_INTERVAL;
            if (!events.empty()) {
                return events;
            }
            continue;
        }
        if (now >= deadline && looked) {
            return {};
        }
        looked = true;
        const Clock::duration limit = std::min(deadline, m_searchAt) - now;
        if (!waitForWord(std::chrono::ceil<std::chrono::milliseconds>(
                std::max(limit, Clock::duration::zero())))) {
            return {};
        }
    }
}
