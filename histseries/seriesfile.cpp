#include "histseries/seriesfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/datetime.h"
#include "common/textops.h"
#include "histseries/texts.h"

namespace {

// The row's value text, cut to the room of lastText; NULL reads as empty.
void CopyValue(char (&value)[kValueTextSize], const char* text, size_t length) {
  size_t kept = text != nullptr ? std::min(length, sizeof value - 1) : 0;
  if (kept > 0) std::memcpy(value, text, kept);
  value[kept] = '\0';
}

void SetLastText(SeriesObject& s, const char* value) {
  size_t length = strnlen(value, sizeof s.lastText - 1);
  std::memcpy(s.lastText, value, length);
  s.lastText[length] = '\0';
}

// `format` (a line of texts.h: text and "%s" slots) with `first` and
// `second` in its slots, as fprintf writes it: a line of usual length in one
// write.
void PutLine(FILE* out, const char* format, const char* first, const char* second = "") {
  char line[128];
  size_t used = 0;
  const char* texts[] = {first, second};
  int slot = 0;
  for (const char* at = format; *at != '\0'; ++at) {
    const char* piece = at;
    size_t length = 1;
    if (at[0] == '%' && at[1] == 's') {
      piece = texts[slot++];
      length = std::strlen(piece);
      ++at;
    }
    if (used + length > sizeof line) {
      std::fwrite(line, 1, used, out);
      used = 0;
      if (length > sizeof line) {
        std::fwrite(piece, 1, length, out);
        continue;
      }
    }
    std::memcpy(line + used, piece, length);
    used += length;
  }
  std::fwrite(line, 1, used, out);
}

// The first series whose name is the text of `objName` up to its first NUL,
// as a C string compares; only that first one is served, even when a later
// one bears the same name.
SeriesObject* FindSeries(SeriesTable& table, const char* objName, size_t length) {
  for (SeriesObject& s : table.series) {
    size_t size = s.name.size();
    if (size <= length && objName[size] == '\0' && std::memcmp(s.name.data(), objName, size) == 0)
      return &s;
  }
  return nullptr;
}

void WriteHeader(SeriesObject& s) {
  PutLine(s.output.stream, kSeriesHeaderLine, s.label.c_str());
}

// Kind N: a value curve, thinned by change and by time.
void WriteValueRow(const SeriesTable& table, SeriesObject& s, int32_t t, const char* timeText,
                   const char* value) {
  float x = static_cast<float>(std::atof(value));
  bool firstRow = s.headerPending;
  if (s.headerPending) {
    WriteHeader(s);
    PutLine(s.output.stream, kSeriesValueLine, table.periodFrom.c_str(), value);
    s.headerPending = false;
  }
  // 32-bit float arithmetic and strict comparisons: a change of exactly the
  // deadband, or a gap of exactly maxGap, is held back.
  bool moved = fabsf(s.lastValue - x) > table.deadband;
  bool stale = static_cast<int64_t>(t) - s.lastTime > table.maxGap;
  if (firstRow || moved || stale) {
    PutLine(s.output.stream, kSeriesValueLine, timeText, value);
    SetLastText(s, value);
    s.lastValue = x;
    s.lastTime = t;
  }
}

// Kind C: a step curve of the value text.
void WriteStepRow(const SeriesTable& table, SeriesObject& s, int32_t t, const char* timeText,
                  const char* value) {
  if (s.headerPending) {
    WriteHeader(s);
    PutLine(s.output.stream, kSeriesValueLine, table.periodFrom.c_str(), value);
    SetLastText(s, value);
    s.headerPending = false;
  }
  if (std::strcmp(s.lastText, value) != 0) {
    PutLine(s.output.stream, kSeriesValueLine, timeText, s.lastText);
    PutLine(s.output.stream, kSeriesValueLine, timeText, value);
  }
  SetLastText(s, value);
  s.lastTime = t;
}

// Kind U: a two-level step curve whose earlier level is taken to be the
// opposite of the new one. The value text loses its last two characters.
void WriteTwoLevelRow(const SeriesTable& table, SeriesObject& s, int32_t t, const char* timeText,
                      char* value) {
  size_t length = std::strlen(value);
  value[length >= 2 ? length - 2 : 0] = '\0';
  const char* oppositeLine = value[0] == '0' ? kSeriesHighLine : kSeriesLowLine;
  if (s.headerPending) {
    WriteHeader(s);
    PutLine(s.output.stream, oppositeLine, table.periodFrom.c_str());
    s.headerPending = false;
  }
  if (std::strcmp(s.lastText, value) != 0) PutLine(s.output.stream, oppositeLine, timeText);
  PutLine(s.output.stream, kSeriesValueLine, timeText, value);
  SetLastText(s, value);
  s.lastTime = t;
}

// The writer of a temporary of `series` (name + ".sqr") as the replacement
// makes it: name, ".", the writer's process id, ".", six letters or digits.
// 0 for the form of earlier versions, without the process id; -1 for a file
// that is no temporary of `series`.
pid_t TemporaryWriter(const std::string& fileName, const std::string& series) {
  constexpr size_t kUniqueLength = 6;
  constexpr size_t kMaxPidDigits = 9;  // more than any pid_max, and within an int
  if (fileName.size() < series.size() + 1 + kUniqueLength ||
      fileName.compare(0, series.size(), series) != 0 || fileName[series.size()] != '.') {
    return -1;
  }
  std::string rest = fileName.substr(series.size() + 1);
  std::string unique = rest.substr(rest.size() - kUniqueLength);
  if (!std::all_of(unique.begin(), unique.end(), [](char c) { return std::isalnum(c & 0xFF); })) {
    return -1;
  }
  if (rest.size() == kUniqueLength) return 0;
  std::string pid = rest.substr(0, rest.size() - kUniqueLength);
  if (pid.size() < 2 || pid.size() > kMaxPidDigits + 1 || pid.back() != '.') return -1;
  pid.pop_back();
  if (pid.find_first_not_of("0123456789") != std::string::npos) return -1;
  int writer = std::atoi(pid.c_str());
  return writer > 0 ? writer : -1;
}

// A process of that id still runs (or runs under another user).
bool ProcessRuns(pid_t pid) {
  return kill(pid, 0) == 0 || errno == EPERM;
}

void ReleaseTempLock(SeriesObject& s) {
  if (s.tempLock >= 0) close(s.tempLock);
  s.tempLock = -1;
}

}  // namespace

void RemoveLeftoverSeries(const std::vector<SelectionEntry>& objects) {
  DIR* directory = opendir(".");
  if (directory == nullptr) return;
  while (dirent* entry = readdir(directory)) {
    std::string fileName = entry->d_name;
    pid_t writer = -1;
    for (const SelectionEntry& object : objects) {
      if (writer < 0 && IsPlainFileName(object.name)) {
        writer = TemporaryWriter(fileName, object.name + kSeriesFileSuffix);
      }
    }
    // A run that has just created its temporary has not locked it yet: as
    // long as the writer runs, the file is its own.
    if (writer < 0 || (writer > 0 && ProcessRuns(writer))) continue;
    int fd = open(fileName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat status;
    // Unlocked: its writer has ended without renaming it into place (a
    // writer of another process namespace keeps it locked).
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0) {
      unlink(fileName.c_str());
    }
    close(fd);
  }
  closedir(directory);
}

bool IsPlainFileName(const std::string& name) {
  return name.find('/') == std::string::npos && name != "." && name != "..";
}

Result<Done, SeriesFault> OpenSeries(SeriesTable& table, const SelectionEntry& entry) {
  table.series.emplace_back();
  SeriesObject& s = table.series.back();
  s.name = UpperCase(entry.name);
  s.label = entry.label;
  s.kind = entry.kind;

  if (!IsPlainFileName(entry.name))
    return Failure<SeriesFault>{SeriesFault::NotWritten,
                                Formatted(kMessageNotPlainName, entry.name.c_str())};
  std::string path = entry.name + kSeriesFileSuffix;
  // A directory (or anything else but a file) in the way is no place for a
  // series, as it never was for a file opened under the name itself.
  struct stat existing;
  if (stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode))
    return Failure<SeriesFault>{
        SeriesFault::NotWritten,
        Formatted(kMessageCannotCreate, path.c_str(), std::strerror(EISDIR))};
  // Written beside its place and renamed there when complete: a full disk or
  // a failed query never leaves a cut series where the last good one stood.
  if (!BeginReplacement(s.output, path))
    return Failure<SeriesFault>{
        SeriesFault::NotWritten,
        Formatted(kMessageCannotCreate, path.c_str(), std::strerror(errno))};
  // Months of rows go out in large writes, not in one per few rows.
  std::setvbuf(s.output.stream, nullptr, _IOFBF, kSeriesBufferBytes);
  // A lock of its own open file: closing the series stream leaves it held
  // until the file is renamed into place or removed.
  s.tempLock = open(s.output.tempPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (s.tempLock >= 0) flock(s.tempLock, LOCK_EX | LOCK_NB);
  return Done{};
}

void SelectThinning(SeriesTable& table, int64_t periodLength) {
  if (periodLength > kFourWeeksSeconds) {
    table.deadband = kFourWeeksDeadband;
    table.maxGap = kFourWeeksMaxGap;
  } else if (periodLength > kWeekSeconds) {
    table.deadband = kWeekDeadband;
    table.maxGap = kWeekMaxGap;
  } else {
    table.deadband = kDefaultDeadband;
    table.maxGap = kDefaultMaxGap;
  }
}

void OnHistoryRow(void* context, const HistoryRow& row) {
  SeriesTable& table = *static_cast<SeriesTable*>(context);
  const char* objName = row.Text(1);
  if (objName == nullptr) return;
  SeriesObject* s = FindSeries(table, objName, row.Length(1));
  if (s == nullptr || s->output.stream == nullptr) return;

  char value[kValueTextSize];
  CopyValue(value, row.Text(3), row.Length(3));
  char timeText[kTimestampTextSize];  // on the stack: nothing allocated per row
  FormatTimestampInto(timeText, row.stamp, TimestampForm::Series);

  switch (s->kind) {
    case 'N':
      WriteValueRow(table, *s, row.stamp, timeText, value);
      break;
    case 'C':
      WriteStepRow(table, *s, row.stamp, timeText, value);
      break;
    case 'U':
      WriteTwoLevelRow(table, *s, row.stamp, timeText, value);
      break;
    default:
      break;  // other kinds write nothing
  }
}

Result<Done, SeriesFault> CloseSeries(const SeriesTable& table, SeriesObject& s) {
  if (s.output.stream == nullptr) return Done{};
  PutLine(s.output.stream, kSeriesValueLine, table.periodTo.c_str(), s.lastText);
  Result<Done, SeriesFault> closed = Done{};
  if (!CommitReplacement(s.output))
    closed = Failure<SeriesFault>{
        SeriesFault::NotWritten,
        Formatted(kMessageCannotWrite, s.output.path.c_str(), std::strerror(errno))};
  ReleaseTempLock(s);
  return closed;
}

Result<Done, SeriesFault> AbandonSeries(const SeriesTable& table, SeriesObject& s) {
  if (s.output.stream == nullptr) return Done{};
  if (access(s.output.path.c_str(), F_OK) != 0) return CloseSeries(table, s);
  AbandonReplacement(s.output);
  ReleaseTempLock(s);
  return Failure<SeriesFault>{SeriesFault::NotWritten,
                              Formatted(kMessageQueryFailed, s.output.path.c_str())};
}

Result<Done, SeriesFault> SyncSeriesDirectory(const SeriesTable& table) {
  for (const SeriesObject& s : table.series) {
    if (s.output.path.empty()) continue;
    if (!SyncDirectoryOf(s.output.path))
      return Failure<SeriesFault>{SeriesFault::NotWritten,
                                  Formatted(kMessageCannotSync, std::strerror(errno))};
    break;
  }
  return Done{};
}
