#include "common/replacefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

bool BeginReplacement(FileReplacement& file, const std::string& path, Durability durability) {
  file.path = path;
  file.tempPath = path + "." + std::to_string(getpid()) + ".XXXXXX";
  file.stream = nullptr;
  file.durability = durability;
  int fd = mkstemp(&file.tempPath[0]);
  if (fd < 0) {
    file.tempPath.clear();
    return false;
  }
  // mkstemp makes the file private.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  file.stream = fdopen(fd, "w");
  if (file.stream == nullptr) {
    int error = errno;
    close(fd);
    unlink(file.tempPath.c_str());
    file.tempPath.clear();
    errno = error;
    return false;
  }
  return true;
}

bool FinishReplacement(FileReplacement& file) {
  if (file.stream == nullptr) return !file.tempPath.empty();
  // A write that failed earlier left the error flag; the flush repeats it
  // with its reason.
  bool written = std::fflush(file.stream) == 0;
  int error = errno;
  if (std::ferror(file.stream)) written = false;
  // Synced before the rename: otherwise a power cut can leave the new name
  // on a file whose blocks were never written, and the last good file is
  // gone with it.
  if (written && file.durability == Durability::Synced && fsync(fileno(file.stream)) != 0) {
    written = false;
    error = errno;
  }
  if (std::fclose(file.stream) != 0 && written) {
    written = false;
    error = errno;
  }
  file.stream = nullptr;
  if (!written) errno = error != 0 ? error : EIO;
  return written;
}

bool CommitReplacement(FileReplacement& file) {
  if (FinishReplacement(file) && std::rename(file.tempPath.c_str(), file.path.c_str()) == 0) {
    file.tempPath.clear();
    return true;
  }
  AbandonReplacement(file);
  return false;
}

void AbandonReplacement(FileReplacement& file) {
  int error = errno;
  if (file.stream != nullptr) std::fclose(file.stream);
  file.stream = nullptr;
  if (!file.tempPath.empty()) unlink(file.tempPath.c_str());
  file.tempPath.clear();
  errno = error;
}

bool ReplaceFileContent(const std::string& path, const std::string& content,
                        Durability durability) {
  FileReplacement file;
  if (!BeginReplacement(file, path, durability)) return false;
  if (std::fwrite(content.data(), 1, content.size(), file.stream) != content.size()) {
    AbandonReplacement(file);
    return false;
  }
  return CommitReplacement(file);
}

bool SyncDirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // A file system without a sync for directories (EINVAL) keeps its renames
  // its own way: there is nothing more to ask of it.
  bool synced = fsync(fd) == 0 || errno == EINVAL;
  int error = errno;
  close(fd);
  errno = error;
  return synced;
}
