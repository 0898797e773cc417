#pragma once
// The log of group commits as one stream of bytes over rows of a page each ("slots"), each
// rewritten in place as it fills. A row per commit cost three pages of the write-ahead log
// however small the commit: the row's leaf, its overflow page and the database's first page,
// whose count of pages had changed. A row rewritten at its own size stays where it is: a commit
// writes the one or two slots its bytes go into, and nothing else.
//
// A slot holds the log's generation, how many of its bytes are used, and those bytes. The log
// goes on from slot 0 through the full slots of its generation up to the first one that is not
// full; clearing starts a new generation in slot 0, so that what the slots after it still hold
// is never read back. Where the log ends is kept in memory: one writer of the slots per file,
// as there is one store (a log of rows cleared at each fold did not bear a second one either).

#include <cstdint>
#include <string>
#include <string_view>

#include "store/sqlite_db.h"

namespace vellumora::server {

class SqliteLogSlots {
  public:
    // The history_slots table must exist.
    explicit SqliteLogSlots(sqlite3* db);

    // Everything the log holds, in order.
    std::string read();
    // Both within the caller's transaction.
    void append(std::string_view bytes);
    void clear();
    // After a transaction that appended or cleared was rolled back: the slots are read again
    // before they are written next.
    void forget() { known_ = false; }

  private:
    void startSlot(std::int64_t slot);
    void write();

    SqliteStatement readAll_;
    SqliteStatement update_;
    SqliteStatement insert_;
    std::size_t slotBytes_;          // of a new slot, its header included
    bool known_ = false;             // the fields below are what the table holds
    std::uint64_t generation_ = 1;
    std::int64_t slots_ = 0;         // rows in the table, numbered from 0
    std::int64_t slot_ = 0;          // the slot being filled
    std::uint32_t used_ = 0;         // its bytes used
    std::string tail_;               // its row as stored
};

}  // namespace vellumora::server
