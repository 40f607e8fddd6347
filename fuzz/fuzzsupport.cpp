#include "fuzzsupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr const char kHistorySchema[] =
    "create table HISTORY (TimeStamp integer, ObjName text, ObjKind text, Value text, "
    "ValueText text, Source text, State text)";

std::string Directory;
int StartDirectory = -1;

void RemoveDirectory() {
  if (Directory.empty()) return;
  if (DIR* dir = opendir(Directory.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      unlink((Directory + "/" + entry->d_name).c_str());
    }
    closedir(dir);
  }
  rmdir(Directory.c_str());
}

}  // namespace

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

const std::string& PrivateDirectory() {
  if (Directory.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/korvane-fuzz-XXXXXX";
    Require(mkdtemp(&pattern[0]) != nullptr, "cannot create a private directory");
    Directory = pattern;
    std::atexit(RemoveDirectory);
  }
  return Directory;
}

void EnterPrivateDirectory() {
  if (StartDirectory < 0) StartDirectory = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Require(StartDirectory >= 0, "cannot open the working directory");
  Require(chdir(PrivateDirectory().c_str()) == 0, "cannot enter the private directory");
}

void LeavePrivateDirectory() {
  Require(fchdir(StartDirectory) == 0, "cannot return to the working directory");
}

FILE* NullOutput() {
  static FILE* sink = std::fopen("/dev/null", "w");
  Require(sink != nullptr, "cannot open /dev/null");
  return sink;
}

std::string UpToNul(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  return std::string(text, strnlen(text, size));
}

bool IsOneHistoryStatement(const std::string& sql) {
  static sqlite3* db = [] {
    sqlite3* opened = nullptr;
    Require(sqlite3_open(":memory:", &opened) == SQLITE_OK, "cannot open a memory database");
    Require(sqlite3_exec(opened, kHistorySchema, nullptr, nullptr, nullptr) == SQLITE_OK,
            "cannot create HISTORY");
    return opened;
  }();
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()) + 1, &statement, &tail);
  sqlite3_finalize(statement);
  if (rc != SQLITE_OK || statement == nullptr) return false;
  while (tail != nullptr && *tail != '\0') {
    if (*tail != ' ' && *tail != '\n' && *tail != '\t' && *tail != '\r') return false;
    ++tail;
  }
  return true;
}

void UseBerlinTime() {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
}
