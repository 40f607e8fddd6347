// A scratch directory of one test: made fresh under TMPDIR (or /tmp), and
// removed with everything in it when the test ends, also where the test took
// away the permissions of a directory in it. With Enter::Yes it is the
// working directory while it lives: the programs write their files there.
#pragma once

#include <dirent.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class ScratchDir {
 public:
  enum class Enter { No, Yes };

  explicit ScratchDir(Enter enter = Enter::No) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/korvane-test-XXXXXX";
    EXPECT_NE(mkdtemp(&pattern[0]), nullptr) << pattern;
    path_ = pattern;
    if (enter == Enter::No) return;
    char* previous = getcwd(nullptr, 0);
    EXPECT_NE(previous, nullptr);
    if (previous != nullptr) previous_ = previous;
    std::free(previous);
    EXPECT_EQ(chdir(path_.c_str()), 0);
  }
  ~ScratchDir() {
    if (!previous_.empty()) {
      EXPECT_EQ(chdir(previous_.c_str()), 0);
    }
    // Directories first made writable from the top down, then everything
    // removed from the bottom up.
    nftw(path_.c_str(), MakeWritable, 16, FTW_PHYS);
    nftw(path_.c_str(), Remove, 16, FTW_DEPTH | FTW_PHYS);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  // The file's bytes, or "(missing)" when it cannot be read.
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    if (!in) return "(missing)";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The names in the directory, sorted.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path_.c_str())) {
      while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  static int MakeWritable(const char* path, const struct stat* info, int type, FTW*) {
    if (type == FTW_D || type == FTW_DNR) chmod(path, (info->st_mode & 07777) | S_IRWXU);
    return 0;
  }
  static int Remove(const char* path, const struct stat*, int, FTW*) {
    std::remove(path);
    return 0;
  }

  std::string path_;
  std::string previous_;
};
