#include "store/sqlite_wal_writes.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <new>
#include <string>

namespace vellumora::server {

namespace {

constexpr int kFrameHeaderBytes = 24;
// A fold's pages go out at once; a larger transaction in steps of this.
constexpr std::size_t kMaxGathered = 4 << 20;

// One open log file: ours in front, SQLite's own right behind it in the same allocation.
struct WalFile {
    sqlite3_file base;
    int fd = -1;  // our own descriptor of the same file; -1 passes every write through
    // Writes are gathered only while each starts where the one before ended: SQLite appends a
    // transaction's frames that way, and anything else (a frame rewritten in place, the log's
    // header after a restart) goes out at once, so nothing is ever left behind unwritten.
    sqlite3_int64 next = -1;    // where the last write ended, gathered or not
    sqlite3_int64 start = 0;    // where `gathered` belongs in the file
    bool commitHeader = false;  // the header just gathered ends a transaction
    std::string gathered;

    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

WalFile* walOf(sqlite3_file* file) {
    return reinterpret_cast<WalFile*>(file);
}

int writeAll(int fd, const char* bytes, std::size_t size, sqlite3_int64 offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, bytes, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 && errno != ENOSPC ? SQLITE_IOERR_WRITE : SQLITE_FULL;
        bytes += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return SQLITE_OK;
}

int flush(WalFile* w) {
    if (w->gathered.empty()) return SQLITE_OK;
    const int rc = writeAll(w->fd, w->gathered.data(), w->gathered.size(), w->start);
    w->gathered.clear();
    return rc;
}

int walWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    WalFile* w = walOf(file);
    if (w->fd < 0) return w->real()->pMethods->xWrite(w->real(), data, amount, offset);
    const char* bytes = static_cast<const char*>(data);
    const auto size = static_cast<std::size_t>(amount);
    if (offset != w->next) {
        const int rc = flush(w);
        w->next = offset + amount;
        return rc != SQLITE_OK ? rc : writeAll(w->fd, bytes, size, offset);
    }
    if (w->gathered.empty()) w->start = offset;
    w->gathered.append(bytes, size);
    w->next = offset + amount;
    // A frame header with the database's size in pages marks a commit: its page is the
    // transaction's last write before SQLite publishes it to every connection.
    const bool endsTransaction = w->commitHeader;
    w->commitHeader = amount == kFrameHeaderBytes && (bytes[4] | bytes[5] | bytes[6] | bytes[7]) != 0;
    if (endsTransaction || w->gathered.size() >= kMaxGathered) return flush(w);
    return SQLITE_OK;
}

int walClose(sqlite3_file* file) {
    WalFile* w = walOf(file);
    const int flushed = flush(w);
    const int rc = w->real()->pMethods->xClose(w->real());
    if (w->fd >= 0) ::close(w->fd);
    w->~WalFile();
    return flushed != SQLITE_OK ? flushed : rc;
}

// Everything else reaches SQLite's own file, after what was gathered is in place.
template <auto Method, class... Args>
int flushed(sqlite3_file* file, Args... args) {
    WalFile* w = walOf(file);
    if (const int rc = flush(w); rc != SQLITE_OK) return rc;
    return (w->real()->pMethods->*Method)(w->real(), args...);
}

template <auto Method, class Result, class... Args>
Result forwarded(sqlite3_file* file, Args... args) {
    sqlite3_file* real = walOf(file)->real();
    return (real->pMethods->*Method)(real, args...);
}

using M = sqlite3_io_methods;
constexpr sqlite3_io_methods kWalMethods = {
    3,
    walClose,
    flushed<&M::xRead, void*, int, sqlite3_int64>,
    walWrite,
    flushed<&M::xTruncate, sqlite3_int64>,
    flushed<&M::xSync, int>,
    flushed<&M::xFileSize, sqlite3_int64*>,
    flushed<&M::xLock, int>,
    flushed<&M::xUnlock, int>,
    flushed<&M::xCheckReservedLock, int*>,
    flushed<&M::xFileControl, int, void*>,
    forwarded<&M::xSectorSize, int>,
    forwarded<&M::xDeviceCharacteristics, int>,
    forwarded<&M::xShmMap, int, int, int, int, void volatile**>,
    forwarded<&M::xShmLock, int, int, int, int>,
    forwarded<&M::xShmBarrier, void>,
    forwarded<&M::xShmUnmap, int, int>,
    flushed<&M::xFetch, sqlite3_int64, int, void**>,
    forwarded<&M::xUnfetch, int, sqlite3_int64, void*>,
};

sqlite3_vfs* defaultVfs = nullptr;
sqlite3_vfs gatheringVfs;

int gatheringOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    if (!(flags & SQLITE_OPEN_WAL)) return defaultVfs->xOpen(defaultVfs, name, file, flags, outFlags);
    auto* w = new (file) WalFile;
    w->base.pMethods = nullptr;
    const int rc = defaultVfs->xOpen(defaultVfs, name, w->real(), flags, outFlags);
    if (rc != SQLITE_OK || !w->real()->pMethods) {
        w->~WalFile();
        return rc;
    }
    // Opened by SQLite first, so the file has the mode it gives logs; a read-only log is
    // only passed through.
    if (flags & SQLITE_OPEN_READWRITE) w->fd = ::open(name, O_RDWR | O_CLOEXEC);
    w->base.pMethods = &kWalMethods;
    return SQLITE_OK;
}

}  // namespace

const char* gatheredWalVfs() {
    static std::once_flag registered;
    std::call_once(registered, [] {
        defaultVfs = sqlite3_vfs_find(nullptr);
        gatheringVfs = *defaultVfs;
        gatheringVfs.zName = "vellumora-gathered-wal";
        gatheringVfs.szOsFile = static_cast<int>(sizeof(WalFile)) + defaultVfs->szOsFile;
        gatheringVfs.xOpen = gatheringOpen;
        gatheringVfs.pNext = nullptr;
        sqlite3_vfs_register(&gatheringVfs, 0);
    });
    return gatheringVfs.zName;
}

}  // namespace vellumora::server
