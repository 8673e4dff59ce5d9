// The controllers attached as a live set: which arrive and which leave, with where they are
// plugged. Every change is found by searching again (findAllOstrels) and comparing; what
// prompts a search is the platform's notification (HidPlatform::watch) where it gives
// one, and otherwise the clock, every POLL_INTERVAL.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/HIDDescriptor.h"
#include "platform/HidPlatform.h"

struct ControllerEvent {
    // NotAController: a device that only looks like one (HIDDevices' Lookalike) arrived.
    enum class Kind { Arrived, Departed, NotAController };
    Kind kind = Kind::Arrived;
    // As discovery found it: location (empty when the system does not tell), path, ids.
    HIDDescriptor controller;
    std::string why;  // NotAController: what sets it apart from a controller
};

class ControllerWatch {
public:
    // How often the set is searched where the platform gives no notifications.
    static constexpr std::chrono::milliseconds POLL_INTERVAL{250};

    // Starts listening to `platform`, then takes the first search: what the first whole
    // search finds (this one, or a later one when this fails part way) is attached(), not
    // an arrival. The platform must outlive the watch.
    explicit ControllerWatch(platform::HidPlatform& platform);
    ~ControllerWatch();
    ControllerWatch(const ControllerWatch&) = delete;
    ControllerWatch& operator=(const ControllerWatch&) = delete;

    // The controllers attached as the last search found them, in discovery's order.
    std::vector<HIDDescriptor> attached() const;
    // The devices that only looked like a controller in the first whole search, as
    // NotAController events; later ones come from next().
    std::vector<ControllerEvent> attachedLookalikes() const;

    // Waits until controllers came or went, `timeout` passed, or cancel(); returns what
    // changed since the last call: departures first, then arrivals, then the arrivals of
    // devices that only look like a controller (their departures are not told), each in
    // discovery's order. A controller is the same one while its location and path stay the
    // same (or only its location went: it is being pulled out) and the platform does not say
    // its path went away; one pulled out and plugged in again between two searches is a
    // departure and an arrival. A search that fails part way
    // changes nothing and is tried again after POLL_INTERVAL. Empty on timeout and after
    // cancel(). One thread at a time.
    std::vector<ControllerEvent> next(std::chrono::milliseconds timeout);

    // Ends a next() in progress on another thread, and every later one at once. Any thread.
    void cancel();
    bool cancelled() const;
    // True while the watch searches every POLL_INTERVAL: the platform gives no
    // notifications, or they broke down.
    bool polling() const;

private:
    // Searches and compares; false when the search failed part way.
    bool search(std::vector<ControllerEvent>& events);
    // Waits up to `limit` for a notification (then a search is due) or cancel(); false on
    // cancel.
    bool waitForWord(std::chrono::milliseconds limit);

    platform::HidPlatform& m_platform;
    std::unique_ptr<platform::HidWatch> m_watch;       // null: polling
    std::vector<HIDDescriptor> m_attached;             // read by attached() on any thread
    std::vector<ControllerEvent> m_lookalikesAtStart;  // likewise
    std::vector<HIDDescriptor> m_lookalikes;  // the last search's, the next()'s thread only
    std::vector<std::string> m_departed;      // paths gone, not yet compared
    // When the next search is due: by the clock, after a notification, or never (until one).
    std::chrono::steady_clock::time_point m_searchAt;
    bool m_baseline = false;  // a whole search has told what was attached to begin with

    mutable std::mutex m_mutex;  // m_attached and those at start, m_cancelled, m_polling; the
                                 // clock's wait
    std::condition_variable m_woken;
    bool m_cancelled = false;
    bool m_polling = false;
};
