#include "common/readahead.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

namespace {

const char kVfsName[] = "history-readahead";

// The first read of a run of reads in file order takes this much; each read
// that continues the run doubles it, up to kReadAheadMaxBytes.
constexpr sqlite3_int64 kFirstWindow = 16 * 1024;

// Reads that follow each other in file order before the first fill: the
// lookups through an index jump between parts of the file and now and then
// touch neighbouring pages; a fill there would read the card for nothing.
constexpr int kRunBeforeFill = 3;

// The rollback journal: SQLite writes each record (page number, page,
// checksum) in three writes, one after the other in the file; the writes
// that continue each other go on as one, of up to this much.
constexpr int kPendingBytes = 64 * 1024;

sqlite3_vfs* Base = nullptr;

// SQLite's temporary files of this process (sorts, temporary tables and
// their journals): the bytes they hold and how many they may hold.
sqlite3_int64 TempBytes = 0;
sqlite3_int64 TempLimit = kDefaultTempStorageLimit;
bool TempExceeded = false;

constexpr int kTempFlags = SQLITE_OPEN_TEMP_DB | SQLITE_OPEN_TEMP_JOURNAL |
                           SQLITE_OPEN_TRANSIENT_DB | SQLITE_OPEN_SUBJOURNAL;

struct File {
  sqlite3_file base;      // must come first: SQLite sees this part
  sqlite3_file* real;     // the default file system's file, behind ours
  unsigned char* buffer;  // null for files other than a main database
  sqlite3_int64 start;    // file offset of buffer[0]
  sqlite3_int64 length;   // bytes valid in the buffer, 0 when empty
  sqlite3_int64 window;   // bytes the next fill takes in
  sqlite3_int64 runEnd;   // where a read continuing the run would start
  int runLength;          // reads in file order so far, up to kRunBeforeFill
  sqlite3_int64 size;     // the file's size as last asked, -1 when unknown
  int lockLevel;          // what the file holds: the buffer needs SHARED
  // A rollback journal's writes that continue each other, not yet passed on
  // (null for other files).
  unsigned char* pending;
  sqlite3_int64 pendingStart;
  int pendingLength;
  // A temporary file: the size it has grown to, counted in TempBytes;
  // -1 for other files.
  sqlite3_int64 tempSize;
};

// A temporary file is `size` bytes long now.
void CountTemp(File* f, sqlite3_int64 size) {
  TempBytes += size - f->tempSize;
  f->tempSize = size;
}

File* Of(sqlite3_file* file) {
  return reinterpret_cast<File*>(file);
}

// Whatever may change the file, or may let another process change it, ends
// the buffer's validity.
void Forget(File* f) {
  f->length = 0;
  f->size = -1;
}

// Passes the journal's pending writes on, as one write.
int Flush(File* f) {
  if (f->pendingLength == 0) return SQLITE_OK;
  int length = f->pendingLength;
  f->pendingLength = 0;
  return f->real->pMethods->xWrite(f->real, f->pending, length, f->pendingStart);
}

int Close(sqlite3_file* file) {
  File* f = Of(file);
  if (f->tempSize >= 0) CountTemp(f, 0);
  int flushed = Flush(f);
  int rc = f->real->pMethods ? f->real->pMethods->xClose(f->real) : SQLITE_OK;
  std::free(f->buffer);
  f->buffer = nullptr;
  std::free(f->pending);
  f->pending = nullptr;
  return flushed != SQLITE_OK ? flushed : rc;
}

// Fills the buffer from `offset` with up to the window's size, never past the
// file's end. False when nothing could be taken in (the caller reads itself).
// The size is asked once per run: should the file have changed in between
// after all, a read past its end fails as short and the caller reads itself.
bool Fill(File* f, sqlite3_int64 offset, int amount) {
  if (f->size < 0 && f->real->pMethods->xFileSize(f->real, &f->size) != SQLITE_OK) {
    f->size = -1;
    return false;
  }
  sqlite3_int64 take = f->window;
  if (take > f->size - offset) take = f->size - offset;
  if (take < amount) return false;
  if (f->real->pMethods->xRead(f->real, f->buffer, static_cast<int>(take), offset) != SQLITE_OK) {
    return false;
  }
  f->start = offset;
  f->length = take;
  return true;
}

int Read(sqlite3_file* file, void* out, int amount, sqlite3_int64 offset) {
  File* f = Of(file);
  int flushed = Flush(f);
  if (flushed != SQLITE_OK) return flushed;
  if (f->buffer == nullptr || f->lockLevel < SQLITE_LOCK_SHARED || amount <= 0 ||
      amount > static_cast<int>(kReadAheadMaxBytes)) {
    return f->real->pMethods->xRead(f->real, out, amount, offset);
  }
  if (f->length > 0 && offset >= f->start && offset + amount <= f->start + f->length) {
    std::memcpy(out, f->buffer + (offset - f->start), static_cast<std::size_t>(amount));
    f->runEnd = offset + amount;
    return SQLITE_OK;
  }
  // A read where the last one ended continues a run: take in more ahead of
  // it. Any other read is served as asked and starts a new run.
  bool continues = offset == f->runEnd || (f->length > 0 && offset == f->start + f->length);
  f->runEnd = offset + amount;
  if (!continues) {
    f->window = kFirstWindow;
    f->runLength = 0;
  }
  if (f->runLength < kRunBeforeFill) {
    ++f->runLength;
    return f->real->pMethods->xRead(f->real, out, amount, offset);
  }
  if (Fill(f, offset, amount)) {
    std::memcpy(out, f->buffer, static_cast<std::size_t>(amount));
    if (f->window < static_cast<sqlite3_int64>(kReadAheadMaxBytes)) f->window *= 2;
    return SQLITE_OK;
  }
  Forget(f);
  return f->real->pMethods->xRead(f->real, out, amount, offset);
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  File* f = Of(file);
  Forget(f);
  if (f->tempSize >= 0 && offset + amount > f->tempSize) {
    if (TempBytes + (offset + amount - f->tempSize) > TempLimit) {
      TempExceeded = true;
      return SQLITE_FULL;
    }
    CountTemp(f, offset + amount);
  }
  if (f->pending != nullptr && amount > 0) {
    if (f->pendingLength > 0 && offset == f->pendingStart + f->pendingLength &&
        f->pendingLength + amount <= kPendingBytes) {
      std::memcpy(f->pending + f->pendingLength, data, static_cast<std::size_t>(amount));
      f->pendingLength += amount;
      return SQLITE_OK;
    }
    int flushed = Flush(f);
    if (flushed != SQLITE_OK) return flushed;
    if (amount < kPendingBytes) {
      std::memcpy(f->pending, data, static_cast<std::size_t>(amount));
      f->pendingStart = offset;
      f->pendingLength = amount;
      return SQLITE_OK;
    }
  }
  return f->real->pMethods->xWrite(f->real, data, amount, offset);
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  File* f = Of(file);
  Forget(f);
  if (f->tempSize > size) CountTemp(f, size);
  int flushed = Flush(f);
  if (flushed != SQLITE_OK) return flushed;
  return f->real->pMethods->xTruncate(f->real, size);
}

int Sync(sqlite3_file* file, int flags) {
  File* f = Of(file);
  int flushed = Flush(f);
  if (flushed != SQLITE_OK) return flushed;
  return f->real->pMethods->xSync(f->real, flags);
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  File* f = Of(file);
  int flushed = Flush(f);
  if (flushed != SQLITE_OK) return flushed;
  return f->real->pMethods->xFileSize(f->real, size);
}

int Lock(sqlite3_file* file, int level) {
  File* f = Of(file);
  int flushed = Flush(f);
  if (flushed != SQLITE_OK) return flushed;
  int rc = f->real->pMethods->xLock(f->real, level);
  if (rc == SQLITE_OK) f->lockLevel = level;
  return rc;
}

// Another process may write the file once our lock is given up.
int Unlock(sqlite3_file* file, int level) {
  File* f = Of(file);
  Forget(f);
  int flushed = Flush(f);
  if (flushed != SQLITE_OK) return flushed;
  int rc = f->real->pMethods->xUnlock(f->real, level);
  if (rc == SQLITE_OK && level < f->lockLevel) f->lockLevel = level;
  return rc;
}

int CheckReservedLock(sqlite3_file* file, int* reserved) {
  return Of(file)->real->pMethods->xCheckReservedLock(Of(file)->real, reserved);
}

int FileControl(sqlite3_file* file, int op, void* arg) {
  File* f = Of(file);
  Forget(f);
  int flushed = Flush(f);
  if (flushed != SQLITE_OK) return flushed;
  return f->real->pMethods->xFileControl(f->real, op, arg);
}

int SectorSize(sqlite3_file* file) {
  return Of(file)->real->pMethods->xSectorSize(Of(file)->real);
}

int DeviceCharacteristics(sqlite3_file* file) {
  return Of(file)->real->pMethods->xDeviceCharacteristics(Of(file)->real);
}

int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** at) {
  return Of(file)->real->pMethods->xShmMap(Of(file)->real, region, size, extend, at);
}

// Write-ahead logging: a reader takes a new snapshot with a lock of the
// shared index, so every such lock ends the buffer's validity too.
int ShmLock(sqlite3_file* file, int offset, int count, int flags) {
  File* f = Of(file);
  Forget(f);
  return f->real->pMethods->xShmLock(f->real, offset, count, flags);
}

void ShmBarrier(sqlite3_file* file) {
  Forget(Of(file));
  Of(file)->real->pMethods->xShmBarrier(Of(file)->real);
}

int ShmUnmap(sqlite3_file* file, int deleteFlag) {
  Forget(Of(file));
  return Of(file)->real->pMethods->xShmUnmap(Of(file)->real, deleteFlag);
}

// Pages mapped by the default file system (only when a caller turns memory
// mapping on) bypass the buffer; they are passed through as they are.
int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** page) {
  return Of(file)->real->pMethods->xFetch(Of(file)->real, offset, amount, page);
}

int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
  return Of(file)->real->pMethods->xUnfetch(Of(file)->real, offset, page);
}

const sqlite3_io_methods kMethods = {
    3,
    Close,
    Read,
    Write,
    Truncate,
    Sync,
    FileSize,
    Lock,
    Unlock,
    CheckReservedLock,
    FileControl,
    SectorSize,
    DeviceCharacteristics,
    ShmMap,
    ShmLock,
    ShmBarrier,
    ShmUnmap,
    Fetch,
    Unfetch,
};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  File* f = Of(file);
  f->real = reinterpret_cast<sqlite3_file*>(f + 1);
  f->buffer = nullptr;
  f->start = f->length = f->runEnd = 0;
  f->runLength = 0;
  f->size = -1;
  f->window = kFirstWindow;
  f->lockLevel = SQLITE_LOCK_NONE;
  f->pending = nullptr;
  f->pendingStart = 0;
  f->pendingLength = 0;
  f->tempSize = (flags & kTempFlags) != 0 ? 0 : -1;
  file->pMethods = nullptr;
  int rc = Base->xOpen(Base, name, f->real, flags, outFlags);
  if (f->real->pMethods == nullptr) return rc;
  // The methods above call all of version 3, which the default file system
  // of every SQLite this builds with offers; an older one is refused.
  if (f->real->pMethods->iVersion < 3) {
    f->real->pMethods->xClose(f->real);
    return SQLITE_CANTOPEN;
  }
  if ((flags & SQLITE_OPEN_MAIN_DB) != 0) {
    f->buffer = static_cast<unsigned char*>(std::malloc(kReadAheadMaxBytes));
  }
  // Safe only because SQLite syncs the journal before it writes a page of
  // the database, and every sync passes the pending writes on first; a
  // device on which SQLite counts on the order of the writes instead
  // (SQLITE_IOCAP_SEQUENTIAL) keeps them as they come.
  if ((flags & SQLITE_OPEN_MAIN_JOURNAL) != 0 &&
      (f->real->pMethods->xDeviceCharacteristics(f->real) & SQLITE_IOCAP_SEQUENTIAL) == 0) {
    f->pending = static_cast<unsigned char*>(std::malloc(kPendingBytes));
  }
  file->pMethods = &kMethods;
  return rc;
}

sqlite3_vfs Vfs;

bool Register() {
  if (sqlite3_initialize() != SQLITE_OK) return false;
  Base = sqlite3_vfs_find(nullptr);
  if (Base == nullptr) return false;
  Vfs = *Base;
  Vfs.szOsFile = static_cast<int>(sizeof(File)) + Base->szOsFile;
  Vfs.pNext = nullptr;
  Vfs.zName = kVfsName;
  Vfs.xOpen = Open;
  return sqlite3_vfs_register(&Vfs, 0) == SQLITE_OK;
}

}  // namespace

void SetTempStorageLimit(long long bytes) {
  TempLimit = bytes;
}

bool TempStorageExceeded() {
  return TempExceeded;
}

const char* ReadAheadVfsName() {
  static const bool registered = Register();
  return registered ? kVfsName : nullptr;
}
