// Larger reads of the history file for long scans. SQLite reads a database
// one page per system call; a report over millions of rows spends a third of
// its time in those calls. This SQLite file system wraps the default one and
// serves the reads of a main database file from a buffer that grows while
// the reads run on in file order. Nothing is mapped into memory: an I/O error
// of the card stays an error SQLite reports, never a signal that kills the
// program mid-page.
//
// Fewer writes of the rollback journal for deletions: SQLite writes each
// journal record in three system calls; writes that continue each other are
// passed on as one (up to 64 KiB) before any other call on the journal, its
// syncs above all, so the journal on the card is the same at every sync.
#pragma once

#include <cstddef>

// The name to pass to sqlite3_open_v2; registered on the first call.
// Returns nullptr (the default file system) if it cannot be registered.
const char* ReadAheadVfsName();

// The most one read takes in: the buffer's size, allocated per open
// database file and freed with it.
constexpr std::size_t kReadAheadMaxBytes = 256 * 1024;
