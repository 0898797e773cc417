// The log's slots give back what was appended since the last clear, in order, however the bytes
// fall across slots: read by a connection of their own, as a restart after a crash reads them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "store/sqlite_log_slots.h"
#include "store/sqlite_store.h"

namespace vellumora::server {
namespace {

namespace fs = std::filesystem;

TEST(SqliteLogSlots, shouldReadBackWhatWasAppendedSinceTheLastClear) {
    const fs::path dir = fs::temp_directory_path() / ("vellumora-slots-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string path = (dir / "test.db").string();
    SqliteStore{path};  // makes the tables
    SqliteDatabase db(path);
    SqliteLogSlots slots(db.handle());
    ASSERT_EQ(slots.read(), "");

    // With 4 KiB pages a slot holds 4,020 bytes. `undone` steps append in a transaction that is
    // rolled back.
    enum Step { append, clear, undone };
    const std::pair<Step, std::size_t> steps[] = {
        {append, 10},   {append, 4010}, {append, 1},  // fills slot 0 exactly, then the next
        {append, 9000},                                // across three slots
        {clear, 0},     {append, 5},                   // the slots after 0 stay, from before
        {undone, 9000}, {append, 7},                   // written over what the rollback took back
        {append, 4008}, {clear, 0},   {clear, 0},  {append, 3},
    };
    std::string expected;
    char next = 'a';
    for (const auto& [step, size] : steps) {
        std::string bytes;
        for (std::size_t i = 0; i < size; ++i) bytes += next = next == 'z' ? 'a' : static_cast<char>(next + 1);
        {
            SqliteTransaction tx(db);
            if (step == clear)
                slots.clear();
            else
                slots.append(bytes);
            if (step != undone) tx.commit();
        }
        if (step == undone) {
            slots.forget();
            continue;
        }
        if (step == clear) expected.clear();
        if (step == append) expected += bytes;
        SqliteDatabase reader(path);
        ASSERT_EQ(SqliteLogSlots(reader.handle()).read(), expected) << "after " << expected.size() << " bytes";
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vellumora::server
