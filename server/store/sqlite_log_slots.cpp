#include "store/sqlite_log_slots.h"

#include <algorithm>
#include <cstring>

#include "store/store.h"

namespace vellumora::server {

namespace {

constexpr std::size_t kGenerationAt = 0;
constexpr std::size_t kUsedAt = 8;
constexpr std::size_t kHeaderBytes = 12;

template <class T>
T readField(std::string_view row, std::size_t at) {
    T value;
    std::memcpy(&value, row.data() + at, sizeof value);
    return value;
}

template <class T>
void writeField(std::string& row, std::size_t at, T value) {
    std::memcpy(row.data() + at, &value, sizeof value);
}

std::size_t slotBytesOf(sqlite3* db) {
    SqliteStatement read(db, "PRAGMA page_size");
    read.step();
    const auto page = static_cast<std::size_t>(read.integer(0));
    read.reset();
    // A row's framing (lengths, its rowid, the cell's pointer) and the page's header leave the
    // row inside its page, with no overflow page, at any page size.
    return page - 64;
}

}  // namespace

SqliteLogSlots::SqliteLogSlots(sqlite3* db)
    : readAll_(db, "SELECT slot, bytes FROM history_slots ORDER BY slot"),
      update_(db, "UPDATE history_slots SET bytes = ?2 WHERE slot = ?1"),
      insert_(db, "INSERT INTO history_slots(slot, bytes) VALUES(?1, ?2)"),
      slotBytes_(slotBytesOf(db)) {}

std::string SqliteLogSlots::read() {
    known_ = false;
    std::string log;
    generation_ = 1;
    slots_ = 0;
    startSlot(0);
    bool goesOn = true;  // the slots read so far were full and of the log's generation
    for (std::int64_t next = 0; readAll_.step(); ++next) {
        const std::int64_t slot = readAll_.integer(0);
        const std::string_view row = readAll_.blobView(1);
        slots_ = std::max(slots_, slot + 1);
        if (!goesOn) continue;
        if (slot != next || row.size() < kHeaderBytes) {
            readAll_.reset();
            throw StoreError("history log slots out of order");
        }
        const auto generation = readField<std::uint64_t>(row, kGenerationAt);
        if (slot == 0) generation_ = generation;
        if (generation != generation_) {
            goesOn = false;
            continue;
        }
        const auto used = readField<std::uint32_t>(row, kUsedAt);
        if (used > row.size() - kHeaderBytes) {
            readAll_.reset();
            throw StoreError("history log slot overfull");
        }
        log.append(row.substr(kHeaderBytes, used));
        slot_ = slot;
        used_ = used;
        tail_.assign(row);
        goesOn = used == row.size() - kHeaderBytes;
    }
    readAll_.reset();
    known_ = true;
    return log;
}

void SqliteLogSlots::append(std::string_view bytes) {
    if (!known_) read();
    while (!bytes.empty()) {
        if (used_ == tail_.size() - kHeaderBytes) startSlot(slot_ + 1);
        const std::size_t n = std::min(tail_.size() - kHeaderBytes - used_, bytes.size());
        std::memcpy(tail_.data() + kHeaderBytes + used_, bytes.data(), n);
        used_ += static_cast<std::uint32_t>(n);
        bytes.remove_prefix(n);
        write();
    }
}

void SqliteLogSlots::clear() {
    if (!known_) read();
    if (slot_ == 0 && used_ == 0) return;
    ++generation_;
    startSlot(0);
    write();
}

void SqliteLogSlots::startSlot(std::int64_t slot) {
    slot_ = slot;
    used_ = 0;
    // What a row holds past its bytes used is never read: the last slot's bytes stay there.
    tail_.resize(slotBytes_);
    writeField(tail_, kGenerationAt, generation_);
}

void SqliteLogSlots::write() {
    writeField(tail_, kUsedAt, used_);
    // At its own size a slot is rewritten where it is; a new one is added once.
    auto& s = slot_ < slots_ ? update_ : insert_;
    s.bind(1, slot_).bindBlobInPlace(2, tail_).run();
    slots_ = std::max(slots_, slot_ + 1);
}

}  // namespace vellumora::server
