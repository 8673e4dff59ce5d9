#include "services/station/Labels.h"

#include <chrono>
#include <iostream>
#include <streambuf>
#include <utility>

#include "core/texts/OutsideText.h"

namespace ctl {
namespace {

// Lines read ahead of the units: a file of labels is read as the units come, not at once.
constexpr std::size_t READ_AHEAD = 16;

// How long the end waits for the reader to leave a read of the input.
constexpr std::chrono::milliseconds LEAVE_READ{100};

// What a line gives: the label, or why it is none.
Label judge(std::string bytes, bool over, std::size_t line) {
    if (over) {
        return {Label::Kind::Refused,
                "is over " + std::to_string(LABEL_MAX_BYTES) + " bytes (it begins " +
                    escapeControls(bytes.substr(0, 40)) + "...)",
                line};
    }
    if (bytes.empty()) {
        return {Label::Kind::Refused, "is empty", line};
    }
    if (const std::string escaped = escapeControls(bytes); escaped != bytes) {
        return {Label::Kind::Refused,
                "holds control characters or bytes that are not UTF-8 (" + escaped + ")", line};
    }
    return {Label::Kind::Read, std::move(bytes), line};
}

}  // namespace

struct LabelReader::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::size_t, Label> lines;  // read and not yet taken, by ticket
    std::size_t read = 0;                // lines read
    bool ended = false;                  // the input has no more
    bool done = false;                   // the reader has left the input for good
    std::atomic<bool> quit{false};
};

LabelReader::LabelReader(std::istream& in)
    : m_shared(std::make_shared<Shared>()), m_processInput(&in == &std::cin) {
    m_thread = std::thread([shared = m_shared, &in] { run(shared, in); });
}

LabelReader::~LabelReader() {
    m_shared->quit.store(true);
    bool done = false;
    {
        std::unique_lock lock(m_shared->mutex);
        m_shared->changed.notify_all();
        // Only the process's own input, which lives as long as the process, may be left to a
        // read that never returns; any other stream goes with its owner.
        const auto left = [&] { return m_shared->done; };
        if (m_processInput) {
            done = m_shared->changed.wait_for(lock, LEAVE_READ, left);
        } else {
            m_shared->changed.wait(lock, left);
            done = true;
        }
    }
    if (done) {
        m_thread.join();
    } else {
        m_thread.detach();
    }
}

void LabelReader::run(const std::shared_ptr<Shared>& shared, std::istream& in) {
    std::streambuf* const buffer = in.rdbuf();
    for (std::size_t line = 1;; ++line) {
        {
            std::unique_lock lock(shared->mutex);
            shared->changed.wait(
                lock, [&] { return shared->quit.load() || shared->lines.size() < READ_AHEAD; });
        }
        std::string bytes;
        bool over = false;
        bool end = buffer == nullptr;
        bool any = false;
        while (!end && !shared->quit.load()) {
            const auto c = buffer->sbumpc();
            if (std::char_traits<char>::eq_int_type(c, std::char_traits<char>::eof())) {
                end = true;
                break;
            }
            any = true;
            if (c == '\n') {
                break;
            }
            if (bytes.size() < LABEL_MAX_BYTES + 1) {
                bytes += std::char_traits<char>::to_char_type(c);
            } else {
                over = true;
            }
        }
        std::lock_guard lock(shared->mutex);
        if (shared->quit.load() || (end && !any)) {
            shared->ended = !shared->quit.load();
            shared->done = true;
            shared->changed.notify_all();
            return;
        }
        // A scanner may end its lines as a terminal's Enter does, CR LF.
        if (!bytes.empty() && bytes.back() == '\r') {
            bytes.pop_back();
        }
        over = over || bytes.size() > LABEL_MAX_BYTES;
        shared->lines[shared->read] = judge(std::move(bytes), over, line);
        ++shared->read;
        if (end) {
            // The last line had no line end.
            shared->ended = true;
            shared->done = true;
        }
        shared->changed.notify_all();
        if (end) {
            return;
        }
    }
}

Label LabelReader::take(std::size_t ticket, const std::atomic<bool>& stop) {
    std::unique_lock lock(m_shared->mutex);
    m_shared->changed.wait(lock, [&] {
        return m_shared->lines.count(ticket) != 0 ||
               (m_shared->ended && ticket >= m_shared->read) || stop.load();
    });
    if (const auto found = m_shared->lines.find(ticket); found != m_shared->lines.end()) {
        Label label = std::move(found->second);
        m_shared->lines.erase(found);
        m_shared->changed.notify_all();
        return label;
    }
    if (m_shared->ended && ticket >= m_shared->read) {
        return {Label::Kind::Ended, {}, m_shared->read};
    }
    return {Label::Kind::Stopped, {}, 0};
}

void LabelReader::wake() {
    std::lock_guard lock(m_shared->mutex);
    m_shared->changed.notify_all();
}

bool LabelReader::endedBefore(std::size_t ticket) const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->ended && ticket >= m_shared->read;
}

}  // namespace ctl
