#include "outputfile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

bool ReplaceFile(const std::string& fileName, const std::string& content) {
  std::string pattern = fileName + ".XXXXXX";
  std::vector<char> tempName(pattern.begin(), pattern.end());
  tempName.push_back('\0');
  int fd = mkstemp(tempName.data());
  if (fd < 0) return false;
  // mkstemp makes the file private; the file is meant to be as readable as
  // one the program would create directly.
  mode_t mask = umask(0);
  umask(mask);
  bool ok = fchmod(fd, 0666 & ~mask) == 0;
  std::size_t written = 0;
  while (ok && written < content.size()) {
    ssize_t n = write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
    } else {
      written += static_cast<std::size_t>(n);
    }
  }
  if (close(fd) != 0) ok = false;
  if (ok && std::rename(tempName.data(), fileName.c_str()) != 0) ok = false;
  if (!ok) unlink(tempName.data());
  return ok;
}
