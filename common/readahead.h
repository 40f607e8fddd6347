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
//
// Bounded temporary files: SQLite's sorts and temporary tables spill to
// files of the temporary folder (RAM on the device), as large as the data
// they sort. All of them together may hold at most the temporary storage
// limit; a write beyond it fails as a full disk (SQLITE_FULL), and the files
// are gone when SQLite closes them or the process ends (SQLite removes their
// names at once).
#pragma once

#include <cstddef>

// The name to pass to sqlite3_open_v2; registered on the first call.
// Returns nullptr (the default file system) if it cannot be registered.
const char* ReadAheadVfsName();

// The bound of temporary storage, for every run unless set otherwise.
constexpr long long kDefaultTempStorageLimit = 48LL * 1024 * 1024;
void SetTempStorageLimit(long long bytes);
// Whether a write of a temporary file met the bound in this process.
bool TempStorageExceeded();

// The most one read takes in: the buffer's size, allocated per open
// database file and freed with it.
constexpr std::size_t kReadAheadMaxBytes = 256 * 1024;
