// Files that replace an earlier file as a whole (selection, series, names and
// import files). Each is written under a temporary name beside its place and
// renamed into place only when complete: a reader sees the old file or the
// new one, never half of one, and a failed write (a full disk) leaves the
// last good file where it was.
#pragma once

#include <cstdio>
#include <string>

struct FileReplacement {
  std::string path;        // where the file belongs
  std::string tempPath;    // where it is written until it is committed
  FILE* stream = nullptr;  // open for writing between Begin and Finish
};

// Creates the temporary file beside `path`, as readable as a file created
// under its own name. False, with errno set, when it cannot be created.
bool BeginReplacement(FileReplacement& file, const std::string& path);

// Flushes and closes the stream; the file stays under its temporary name.
// False, with errno set, when a write or the close failed.
bool FinishReplacement(FileReplacement& file);

// Finishes the file if still open and renames it into place. False, with
// errno set, when that failed: the temporary is removed, the old file stays.
bool CommitReplacement(FileReplacement& file);

// Closes and removes the temporary: the old file stays as it was.
void AbandonReplacement(FileReplacement& file);

// Replaces `path` with `content` in one go.
bool ReplaceFileContent(const std::string& path, const std::string& content);
