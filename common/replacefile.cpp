#include "common/replacefile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

bool BeginReplacement(FileReplacement& file, const std::string& path) {
  file.path = path;
  file.tempPath = path + ".XXXXXX";
  file.stream = nullptr;
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

bool ReplaceFileContent(const std::string& path, const std::string& content) {
  FileReplacement file;
  if (!BeginReplacement(file, path)) return false;
  if (std::fwrite(content.data(), 1, content.size(), file.stream) != content.size()) {
    AbandonReplacement(file);
    return false;
  }
  return CommitReplacement(file);
}
