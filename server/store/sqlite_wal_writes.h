#pragma once
// A VFS over SQLite's default one that gathers a transaction's writes to the write-ahead log
// and puts them into the file with one system call. SQLite writes each frame of the log as two
// writes (its 24-byte header, then the page): a group commit of five pages cost ten calls, a
// fold hundreds. Nothing reaches other connections sooner or later than before: the gathered
// writes go out when a transaction's commit frame is written, before SQLite publishes it in the
// shared index, and before anything else touches the log (read, sync, size, truncate, close).

namespace vellumora::server {

// The name to open a database with (sqlite3_open_v2); registered on first use.
const char* gatheredWalVfs();

}  // namespace vellumora::server
