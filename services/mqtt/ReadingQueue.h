// The readings not yet acknowledged by the broker, oldest first, in a SQLite store in the
// state folder: a reading counts as kept once its commit has returned (WAL, synchronous=FULL),
// so a power cut, the way a vehicle PC's day ends, loses nothing that was said to be kept.
// Every reading is also held in memory, so that a disk that fills or turns read-only costs
// only what the program would lose if it ended before the disk is writable again. Bounded by
// a count and by bytes; the oldest go first, counted. One thread uses it (the publisher's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct sqlite3;

namespace ctl::mqtt {

struct QueuedReading {
    std::int64_t id = 0;  // increasing in the order the readings were queued
    std::string location;
    std::string payload;  // the state as published
    bool kept = false;    // committed to the store
};

class ReadingQueue {
public:
    using Say = std::function<void(const std::string& line)>;
    struct Limits {
        std::size_t readings = 1000;
        std::uint64_t bytes = 16ull << 20;
    };

    // The store FOLDER/readings.sqlite, made when missing; one it cannot read (garbage,
    // another program's file) is set aside under a new name, said, and a new one started.
    // An empty folder: memory only.
    ReadingQueue(const std::string& folder, Limits limits, Say say);
    ~ReadingQueue();
    ReadingQueue(const ReadingQueue&) = delete;
    ReadingQueue& operator=(const ReadingQueue&) = delete;

    // Queues a reading; a full queue drops its oldest first.
    void push(const std::string& location, std::string payload);
    // Up to `count` of the oldest readings whose ids are not in `skip`, oldest first.
    std::vector<const QueuedReading*> oldest(std::size_t count,
                                             const std::set<std::int64_t>& skip) const;
    // The id of the newest reading of `location`, if one is held.
    std::optional<std::int64_t> newest(const std::string& location) const;
    // The broker has them: out of memory and out of the store.
    void remove(const std::vector<std::int64_t>& ids);

    std::size_t size() const { return m_entries.size(); }
    // What the readings held count against the bound of bytes.
    std::uint64_t bytes() const { return m_bytes; }
    // Held but not committed: lost if the program ends before the store takes them.
    std::size_t unkept() const;
    // Delivered, but still in the store (it could not be written): sent again at the next
    // start.
    std::size_t undeleted() const { return m_undeleted.size(); }
    std::uint64_t dropped() const { return m_dropped; }
    // Found in the store at the start.
    std::size_t restored() const { return m_restored; }
    const std::string& path() const { return m_path; }
    std::size_t limit() const { return m_limits.readings; }

    // A value of the store's own (the configuration a session was started for); empty when
    // none. setMeta is as durable as a reading, and quietly skipped without a store.
    std::string meta(const std::string& key) const;
    void setMeta(const std::string& key, const std::string& value);

private:
    bool open(const std::string& file);
    bool ours();
    void limitLog();
    void setAside(const std::string& why);
    void load();
    void shrink();
    bool flush();
    bool exec(const char* sql);
    void writeFailed(const std::string& why);
    void dropOldest();
    void close();

    Limits m_limits;
    Say m_say;
    std::uint64_t m_readingBytes;  // of the bound of bytes, what the readings may take
    std::string m_path;
    sqlite3* m_db = nullptr;
    bool m_readOnly = false;
    std::deque<QueuedReading> m_entries;
    std::set<std::int64_t> m_undeleted;  // delivered, delete not committed yet
    std::uint64_t m_bytes = 0;
    std::int64_t m_nextId = 1;
    std::uint64_t m_dropped = 0;
    std::size_t m_restored = 0;
    std::string m_failure;  // the write failure said last; empty while writes succeed
};

}  // namespace ctl::mqtt
