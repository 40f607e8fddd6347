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

ExportState Export;

namespace {

// Column `number` (from 1) of a row, null when SQL NULL or absent.
const char* Column(int columnCount, char** columns, int number) {
  return number <= columnCount ? columns[number - 1] : nullptr;
}

// The row's value text, cut to the room of lastText; NULL reads as empty.
void CopyValue(char (&value)[kValueTextSize], const char* column) {
  std::snprintf(value, sizeof value, "%s", column != nullptr ? column : "");
}

void SetLastText(SeriesObject& s, const char* value) {
  std::snprintf(s.lastText, sizeof s.lastText, "%s", value);
}

SeriesObject* FindSeries(const char* objName) {
  // Only the first entry of a name is served, even when a later one bears
  // the same name.
  for (int i = 0; i < Export.seriesCount; ++i) {
    if (Export.series[i].name == objName) return &Export.series[i];
  }
  return nullptr;
}

void WriteHeader(SeriesObject& s) {
  std::fprintf(s.output.stream, kSeriesHeaderLine, s.label.c_str());
}

// Kind N: a value curve, thinned by change and by time.
void WriteValueRow(SeriesObject& s, int32_t t, const char* timeText, const char* value, float x) {
  bool firstRow = s.headerPending;
  if (s.headerPending) {
    WriteHeader(s);
    std::fprintf(s.output.stream, kSeriesValueLine, Export.periodFrom.c_str(), value);
    s.headerPending = false;
  }
  // 32-bit float arithmetic and strict comparisons: a change of exactly the
  // deadband, or a gap of exactly maxGap, is held back.
  bool moved = fabsf(s.lastValue - x) > Export.deadband;
  bool stale = static_cast<int64_t>(t) - s.lastTime > Export.maxGap;
  if (firstRow || moved || stale) {
    std::fprintf(s.output.stream, kSeriesValueLine, timeText, value);
    SetLastText(s, value);
    s.lastValue = x;
    s.lastTime = t;
  }
}

// Kind C: a step curve of the value text.
void WriteStepRow(SeriesObject& s, int32_t t, const char* timeText, const char* value) {
  if (s.headerPending) {
    WriteHeader(s);
    std::fprintf(s.output.stream, kSeriesValueLine, Export.periodFrom.c_str(), value);
    SetLastText(s, value);
    s.headerPending = false;
  }
  if (std::strcmp(s.lastText, value) != 0) {
    std::fprintf(s.output.stream, kSeriesValueLine, timeText, s.lastText);
    std::fprintf(s.output.stream, kSeriesValueLine, timeText, value);
  }
  SetLastText(s, value);
  s.lastTime = t;
}

// Kind U: a two-level step curve whose earlier level is taken to be the
// opposite of the new one. The value text loses its last two characters.
void WriteTwoLevelRow(SeriesObject& s, int32_t t, const char* timeText, char* value) {
  size_t length = std::strlen(value);
  value[length >= 2 ? length - 2 : 0] = '\0';
  const char* oppositeLine = value[0] == '0' ? kSeriesHighLine : kSeriesLowLine;
  if (s.headerPending) {
    WriteHeader(s);
    std::fprintf(s.output.stream, oppositeLine, Export.periodFrom.c_str());
    s.headerPending = false;
  }
  if (std::strcmp(s.lastText, value) != 0) std::fprintf(s.output.stream, oppositeLine, timeText);
  std::fprintf(s.output.stream, kSeriesValueLine, timeText, value);
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

void OpenSeries(int index, const SelectionEntry& entry) {
  SeriesObject& s = Export.series[index];
  s = SeriesObject();
  s.name = UpperCase(entry.name);
  s.label = entry.label;
  s.kind = entry.kind;
  if (index >= Export.seriesCount) Export.seriesCount = index + 1;

  if (!IsPlainFileName(entry.name)) {
    std::fprintf(stderr, kMessageNotPlainName, entry.name.c_str());
    Export.seriesFailed = true;
    return;
  }
  std::string path = entry.name + kSeriesFileSuffix;
  // A directory (or anything else but a file) in the way is no place for a
  // series, as it never was for a file opened under the name itself.
  struct stat existing;
  if (stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
    std::fprintf(stderr, kMessageCannotCreate, path.c_str(), std::strerror(EISDIR));
    Export.seriesFailed = true;
    return;
  }
  // Written beside its place and renamed there when complete: a full disk or
  // a failed query never leaves a cut series where the last good one stood.
  if (!BeginReplacement(s.output, path)) {
    std::fprintf(stderr, kMessageCannotCreate, path.c_str(), std::strerror(errno));
    Export.seriesFailed = true;
    return;
  }
  // Months of rows go out in large writes, not in one per few rows.
  std::setvbuf(s.output.stream, nullptr, _IOFBF, kSeriesBufferBytes);
  // A lock of its own open file: closing the series stream leaves it held
  // until the file is renamed into place or removed.
  s.tempLock = open(s.output.tempPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (s.tempLock >= 0) flock(s.tempLock, LOCK_EX | LOCK_NB);
}

void SelectThinning(int64_t periodLength) {
  if (periodLength > kFourWeeksSeconds) {
    Export.deadband = kFourWeeksDeadband;
    Export.maxGap = kFourWeeksMaxGap;
  } else if (periodLength > kWeekSeconds) {
    Export.deadband = kWeekDeadband;
    Export.maxGap = kWeekMaxGap;
  } else {
    Export.deadband = kDefaultDeadband;
    Export.maxGap = kDefaultMaxGap;
  }
}

int OnHistoryRow(void*, int columnCount, char** columns, char**) {
  const char* stamp = Column(columnCount, columns, 1);
  if (stamp == nullptr || std::strcmp(stamp, "NULL") == 0) return 0;
  const char* objName = Column(columnCount, columns, 2);
  if (objName == nullptr) return 0;
  SeriesObject* s = FindSeries(objName);
  if (s == nullptr || s->output.stream == nullptr) return 0;

  char value[kValueTextSize];
  CopyValue(value, Column(columnCount, columns, 4));
  int32_t t = static_cast<int32_t>(std::strtol(stamp, nullptr, 10));
  char timeText[kTimestampTextSize];  // on the stack: nothing allocated per row
  FormatTimestampInto(timeText, t, TimestampForm::Series);
  float x = static_cast<float>(std::atof(value));

  switch (s->kind) {
    case 'N':
      WriteValueRow(*s, t, timeText, value, x);
      break;
    case 'C':
      WriteStepRow(*s, t, timeText, value);
      break;
    case 'U':
      WriteTwoLevelRow(*s, t, timeText, value);
      break;
    default:
      break;  // other kinds write nothing
  }
  return 0;
}

void CloseSeries(int index) {
  SeriesObject& s = Export.series[index];
  if (s.output.stream == nullptr) return;
  std::fprintf(s.output.stream, kSeriesValueLine, Export.periodTo.c_str(), s.lastText);
  if (!CommitReplacement(s.output)) {
    std::fprintf(stderr, kMessageCannotWrite, s.output.path.c_str(), std::strerror(errno));
    Export.seriesFailed = true;
  }
  ReleaseTempLock(s);
}

void AbandonSeries(int index) {
  SeriesObject& s = Export.series[index];
  if (s.output.stream == nullptr) return;
  if (access(s.output.path.c_str(), F_OK) != 0) {
    CloseSeries(index);
    return;
  }
  AbandonReplacement(s.output);
  ReleaseTempLock(s);
  std::fprintf(stderr, kMessageQueryFailed, s.output.path.c_str());
}

void SyncSeriesDirectory() {
  for (int i = 0; i < Export.seriesCount; ++i) {
    const std::string& path = Export.series[i].output.path;
    if (path.empty()) continue;
    if (!SyncDirectoryOf(path)) {
      std::fprintf(stderr, kMessageCannotSync, std::strerror(errno));
      Export.seriesFailed = true;
    }
    return;
  }
}
