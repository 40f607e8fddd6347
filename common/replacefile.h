// Files that replace an earlier file as a whole (selection, series, names and
// import files). Each is written under a temporary name beside its place and
// renamed into place only when complete: a reader sees the old file or the
// new one, never half of one, and a failed write (a full disk) leaves the
// last good file where it was.
//
// The device runs from an SD card that loses power now and then. A file that
// must survive that is synced before its rename, and its directory once after
// the run's last rename (SyncDirectoryOf), so that neither an empty file nor
// the old name is found after the power comes back.
//
// The temporary is named path + "." + the writer's process id + "." + six
// letters or digits: a run that removes leftovers can tell whether their
// writer still runs.
#pragma once

#include <cstdio>
#include <string>

// What a power cut soon after the rename may do to the new file.
enum class Durability {
  Synced,    // on the disk before the rename: the new file or the old one survives
  Unsynced,  // left to the kernel's write-back: the file may come back empty
};

struct FileReplacement {
  std::string path;        // where the file belongs
  std::string tempPath;    // where it is written until it is committed
  FILE* stream = nullptr;  // open for writing between Begin and Finish
  Durability durability = Durability::Synced;
};

// Creates the temporary file beside `path`, as readable as a file created
// under its own name. False, with errno set, when it cannot be created.
bool BeginReplacement(FileReplacement& file, const std::string& path,
                      Durability durability = Durability::Synced);

// Flushes, syncs (Durability::Synced) and closes the stream; the file stays
// under its temporary name. False, with errno set, when a write, the sync or
// the close failed.
bool FinishReplacement(FileReplacement& file);

// Finishes the file if still open and renames it into place. False, with
// errno set, when that failed: the temporary is removed, the old file stays.
bool CommitReplacement(FileReplacement& file);

// Closes and removes the temporary: the old file stays as it was.
void AbandonReplacement(FileReplacement& file);

// Replaces `path` with `content` in one go.
bool ReplaceFileContent(const std::string& path, const std::string& content,
                        Durability durability = Durability::Synced);

// Syncs the directory that holds `path`, so that the renames into it survive
// a power cut. Once per run, after its last commit: one sync serves all the
// files of the run. False, with errno set, when the directory cannot be
// synced; the files are in place then, but may be lost with the power.
bool SyncDirectoryOf(const std::string& path);
