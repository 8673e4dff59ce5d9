#include "services/mqtt/ReadingQueue.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "core/texts/OutsideText.h"

namespace ctl::mqtt {
namespace {

// "OSTQ": a file of ours, told apart from any other SQLite file left there.
constexpr int APPLICATION_ID = 0x4F535451;
constexpr int SCHEMA_VERSION = 1;
// Beside each payload: its id, location and the row's own bytes.
constexpr std::uint64_t ROW_OVERHEAD = 32;
// An eighth of the bound of bytes is not the readings': it is the room of the write-ahead log
// (at most 4 MB of it), its index and what the pages take beyond the bytes counted (a leaf is
// not filled to the last byte), so that the store on disk stays within buffer_mb.
constexpr std::uint64_t LONGEST_LOG = 4ull << 20;
constexpr std::uint64_t STORE_SHARE = 8;
// A frame of the log: a page and its header; the log's index beside it (-shm).
constexpr std::uint64_t FRAME_HEADER = 24;
constexpr std::uint64_t LOG_INDEX = 32 * 1024;

struct Statement {
    sqlite3_stmt* handle = nullptr;
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &handle, nullptr); }
    ~Statement() { sqlite3_finalize(handle); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return handle != nullptr; }
};

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    const int length = sqlite3_column_bytes(statement, column);
    return text == nullptr ? std::string() : std::string(text, static_cast<std::size_t>(length));
}

std::uint64_t bytesOf(const QueuedReading& entry) {
    return entry.payload.size() + entry.location.size() + ROW_OVERHEAD;
}

std::string stamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

// An integer a pragma answers; 0 when it does not.
std::int64_t pragma(sqlite3* db, const char* sql) {
    Statement statement(db, sql);
    return statement && sqlite3_step(statement.handle) == SQLITE_ROW
               ? sqlite3_column_int64(statement.handle, 0)
               : 0;
}

}  // namespace

ReadingQueue::ReadingQueue(const std::string& folder, Limits limits, Say say)
    : m_limits(limits), m_say(std::move(say)), m_readingBytes(limits.bytes) {
    if (folder.empty()) {
        return;
    }
    const std::string file = folder + "/readings.sqlite";
    if (!open(file)) {
        return;
    }
    if (!ours()) {
        setAside("it is not a store of ours, or it is damaged");
        if (!open(file) || !ours()) {
            close();
            m_say("cannot start a new store " + escapeControls(file) +
                  ": readings are kept in memory only, and lost when the program ends");
            return;
        }
    }
    load();
}

ReadingQueue::~ReadingQueue() {
    close();
}

void ReadingQueue::close() {
    if (m_db != nullptr) {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

bool ReadingQueue::open(const std::string& file) {
    close();
    m_path = file;
    m_readOnly = false;
    int rc =
        sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        // A read-only folder: what an earlier run kept can still be read, and sent.
        close();
        const std::string uri = "file:" + file + "?immutable=1";
        rc = sqlite3_open_v2(uri.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        if (rc != SQLITE_OK || !std::filesystem::exists(file)) {
            close();
            m_say("cannot open the store " + escapeControls(file) +
                  ": readings are kept in memory only, and lost when the program ends");
            m_path.clear();
            return false;
        }
        m_readOnly = true;
    }
    sqlite3_busy_timeout(m_db, 2000);
    sqlite3_extended_result_codes(m_db, 1);
    return true;
}

bool ReadingQueue::exec(const char* sql) {
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Ours, and whole: made now if it is new.
bool ReadingQueue::ours() {
    int application = 0;
    bool empty = false;
    {
        // Finished before anything else: an open statement holds a read transaction, in
        // which the journal mode cannot change.
        Statement id(m_db, "PRAGMA application_id");
        if (!id || sqlite3_step(id.handle) != SQLITE_ROW) {
            return false;  // not a database at all
        }
        application = sqlite3_column_int(id.handle, 0);
        Statement tables(m_db, "SELECT count(*) FROM sqlite_master");
        if (!tables || sqlite3_step(tables.handle) != SQLITE_ROW) {
            return false;
        }
        empty = sqlite3_column_int(tables.handle, 0) == 0;
    }
    if (application == 0 && empty && !m_readOnly) {
        if (!exec("PRAGMA journal_mode = WAL") || !exec("PRAGMA synchronous = FULL")) {
            return false;
        }
        const std::string schema =
            "BEGIN;"
            "CREATE TABLE readings(id INTEGER PRIMARY KEY, location TEXT NOT NULL, "
            "payload TEXT NOT NULL);"
            "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
            "PRAGMA application_id = " +
            std::to_string(APPLICATION_ID) +
            ";PRAGMA user_version = " + std::to_string(SCHEMA_VERSION) + ";COMMIT;";
        if (sqlite3_exec(m_db, schema.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            exec("ROLLBACK");
            writeFailed(sqlite3_errmsg(m_db));
            return true;  // new and empty: it is tried again with the next reading
        }
        limitLog();
        return true;
    }
    if (application != APPLICATION_ID) {
        return false;
    }
    {
        Statement check(m_db, "PRAGMA quick_check");
        if (!check || sqlite3_step(check.handle) != SQLITE_ROW ||
            columnText(check.handle, 0) != "ok") {
            return false;
        }
    }
    if (!m_readOnly) {
        exec("PRAGMA synchronous = FULL");
        limitLog();
    }
    return true;
}

// The log is checkpointed into the store when it fills a quarter of what its index leaves of
// the room (a quarter more for the transaction that crosses that line, the rest for the pages),
// and keeps that size once grown, so that after a checkpoint its blocks are written again
// instead of asked of a disk that may be full.
void ReadingQueue::limitLog() {
    const std::uint64_t room = m_limits.bytes / STORE_SHARE;
    const std::uint64_t page =
        static_cast<std::uint64_t>(std::max<std::int64_t>(512, pragma(m_db, "PRAGMA page_size")));
    const std::uint64_t log = room > LOG_INDEX ? std::min(LONGEST_LOG, (room - LOG_INDEX) / 4) : 0;
    const std::uint64_t frames = std::max<std::uint64_t>(1, log / (page + FRAME_HEADER));
    exec(("PRAGMA journal_size_limit = " + std::to_string(frames * (page + FRAME_HEADER))).c_str());
    exec(("PRAGMA wal_autocheckpoint = " + std::to_string(frames)).c_str());
    m_readingBytes = m_limits.bytes - room;
}

void ReadingQueue::setAside(const std::string& why) {
    close();
    const std::string aside = m_path + ".unreadable-" + stamp();
    std::error_code error;
    std::filesystem::rename(m_path, aside, error);
    if (error) {
        m_say("the store " + escapeControls(m_path) + " cannot be read (" + why +
              ") nor set aside (" + error.message() + ")");
        return;
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        std::error_code ignored;
        std::filesystem::rename(m_path + suffix, aside + suffix, ignored);
    }
    m_say("the store " + escapeControls(m_path) + " cannot be read (" + why + "): set aside as " +
          escapeControls(aside) + "; a new one is started");
}

void ReadingQueue::load() {
    if (m_db == nullptr) {
        return;
    }
    {
        Statement rows(m_db, "SELECT id, location, payload FROM readings ORDER BY id");
        while (rows && sqlite3_step(rows.handle) == SQLITE_ROW) {
            QueuedReading entry;
            entry.id = sqlite3_column_int64(rows.handle, 0);
            entry.location = columnText(rows.handle, 1);
            entry.payload = columnText(rows.handle, 2);
            entry.kept = true;
            m_bytes += bytesOf(entry);
            m_nextId = std::max(m_nextId, entry.id + 1);
            m_entries.push_back(std::move(entry));
        }
    }
    m_restored = m_entries.size();
    // A smaller bound than the last run's: the oldest go now.
    while (m_entries.size() > m_limits.readings || m_bytes > m_readingBytes) {
        dropOldest();
    }
    if (m_readOnly) {
        writeFailed("the folder is read-only");
        return;
    }
    shrink();
}

// A store left larger than this bound (by a larger buffer_mb, or by the log of an earlier
// version): the dropped readings go now, the pages they freed go back to the disk once, and
// the log is emptied into the store, so that the folder is within the bound from the start.
// A VACUUM or checkpoint that fails (a full disk) leaves the store as it was.
void ReadingQueue::shrink() {
    if (!m_undeleted.empty() && !flush()) {
        return;
    }
    const std::int64_t page = pragma(m_db, "PRAGMA page_size");
    const std::int64_t free = pragma(m_db, "PRAGMA freelist_count");
    if (free * page > static_cast<std::int64_t>(m_limits.bytes - m_readingBytes)) {
        exec("VACUUM");
    }
    exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

void ReadingQueue::writeFailed(const std::string& why) {
    if (why != m_failure) {
        m_say("cannot write the store " + escapeControls(m_path) + " (" + why +
              "): readings are kept in memory until it can be written again, and lost if the "
              "program ends first");
        m_failure = why;
    }
}

// Commits every reading not kept yet, and the deletes not done yet, in one transaction.
bool ReadingQueue::flush() {
    if (m_db == nullptr || m_readOnly) {
        return false;
    }
    const bool wasFailing = !m_failure.empty();
    auto fail = [this] {
        const std::string why = sqlite3_errmsg(m_db);
        exec("ROLLBACK");
        writeFailed(why);
        return false;
    };
    if (!exec("BEGIN IMMEDIATE")) {
        return fail();
    }
    {
        Statement insert(m_db,
                         "INSERT OR REPLACE INTO readings(id, location, payload) "
                         "VALUES(?1, ?2, ?3)");
        if (!insert) {
            return fail();
        }
        for (const QueuedReading& entry : m_entries) {
            if (entry.kept) {
                continue;
            }
            sqlite3_reset(insert.handle);
            sqlite3_bind_int64(insert.handle, 1, entry.id);
            sqlite3_bind_text(insert.handle, 2, entry.location.data(),
                              static_cast<int>(entry.location.size()), SQLITE_STATIC);
            sqlite3_bind_text(insert.handle, 3, entry.payload.data(),
                              static_cast<int>(entry.payload.size()), SQLITE_STATIC);
            if (sqlite3_step(insert.handle) != SQLITE_DONE) {
                return fail();
            }
        }
        Statement erase(m_db, "DELETE FROM readings WHERE id = ?1");
        if (!erase) {
            return fail();
        }
        for (const std::int64_t id : m_undeleted) {
            sqlite3_reset(erase.handle);
            sqlite3_bind_int64(erase.handle, 1, id);
            if (sqlite3_step(erase.handle) != SQLITE_DONE) {
                return fail();
            }
        }
    }
    if (!exec("COMMIT")) {
        return fail();
    }
    std::size_t moved = 0;
    for (QueuedReading& entry : m_entries) {
        moved += entry.kept ? 0 : 1;
        entry.kept = true;
    }
    m_undeleted.clear();
    if (wasFailing) {
        m_say("the store " + escapeControls(m_path) + " can be written again: " +
              std::to_string(moved) + " readings held in memory are kept in it now");
        m_failure.clear();
    }
    return true;
}

void ReadingQueue::dropOldest() {
    const QueuedReading& oldest = m_entries.front();
    m_bytes -= bytesOf(oldest);
    if (oldest.kept) {
        m_undeleted.insert(oldest.id);
    }
    m_entries.pop_front();
    ++m_dropped;
}

void ReadingQueue::push(const std::string& location, std::string payload) {
    QueuedReading entry{m_nextId++, location, std::move(payload), false};
    m_bytes += bytesOf(entry);
    m_entries.push_back(std::move(entry));
    while (m_entries.size() > 1 &&
           (m_entries.size() > m_limits.readings || m_bytes > m_readingBytes)) {
        dropOldest();
    }
    flush();
}

std::vector<const QueuedReading*> ReadingQueue::oldest(std::size_t count,
                                                       const std::set<std::int64_t>& skip) const {
    std::vector<const QueuedReading*> found;
    for (const QueuedReading& entry : m_entries) {
        if (found.size() == count) {
            break;
        }
        if (!skip.contains(entry.id)) {
            found.push_back(&entry);
        }
    }
    return found;
}

std::optional<std::int64_t> ReadingQueue::newest(const std::string& location) const {
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
        if (it->location == location) {
            return it->id;
        }
    }
    return std::nullopt;
}

void ReadingQueue::remove(const std::vector<std::int64_t>& ids) {
    const std::set<std::int64_t> gone(ids.begin(), ids.end());
    bool stored = false;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (gone.contains(it->id)) {
            m_bytes -= bytesOf(*it);
            if (it->kept) {
                m_undeleted.insert(it->id);
                stored = true;
            }
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
    if (stored) {
        flush();
    }
}

std::size_t ReadingQueue::unkept() const {
    return static_cast<std::size_t>(
        std::count_if(m_entries.begin(), m_entries.end(),
                      [](const QueuedReading& entry) { return !entry.kept; }));
}

std::string ReadingQueue::meta(const std::string& key) const {
    if (m_db == nullptr) {
        return {};
    }
    Statement select(m_db, "SELECT value FROM meta WHERE key = ?1");
    if (!select) {
        return {};
    }
    sqlite3_bind_text(select.handle, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    return sqlite3_step(select.handle) == SQLITE_ROW ? columnText(select.handle, 0) : std::string();
}

void ReadingQueue::setMeta(const std::string& key, const std::string& value) {
    if (m_db == nullptr || m_readOnly) {
        return;
    }
    Statement upsert(m_db, "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)");
    if (!upsert) {
        return;
    }
    sqlite3_bind_text(upsert.handle, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    sqlite3_bind_text(upsert.handle, 2, value.data(), static_cast<int>(value.size()),
                      SQLITE_STATIC);
    if (sqlite3_step(upsert.handle) != SQLITE_DONE) {
        writeFailed(sqlite3_errmsg(m_db));
    }
}

}  // namespace ctl::mqtt
