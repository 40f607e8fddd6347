#include "histquery/sqllimits.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <strings.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

#include "common/historystore.h"
#include "common/slicepace.h"

namespace {

// SQLite's core functions that a history query may use. Left out on purpose:
// load_extension, the sqlite_* build information, and everything that an
// extension compiled into the library brings (fts3_tokenizer hands out and
// takes process addresses, the FTS, R-tree and other helpers).
constexpr const char* kAllowedFunctions[] = {
    // scalar
    "abs", "changes", "char", "coalesce", "concat", "concat_ws", "format", "glob", "hex", "if",
    "ifnull", "iif", "instr", "last_insert_rowid", "length", "like", "likelihood", "likely",
    "lower", "ltrim", "max", "min", "nullif", "octet_length", "printf", "quote", "random",
    "randomblob", "replace", "round", "rtrim", "sign", "soundex", "substr", "substring",
    "total_changes", "trim", "typeof", "unhex", "unicode", "unistr", "unistr_quote", "unlikely",
    "upper", "zeroblob",
    // aggregate
    "avg", "count", "group_concat", "string_agg", "sum", "total",
    // window
    "cume_dist", "dense_rank", "first_value", "lag", "last_value", "lead", "nth_value", "ntile",
    "percent_rank", "rank", "row_number",
    // date and time
    "current_date", "current_time", "current_timestamp", "date", "datetime", "julianday",
    "strftime", "time", "timediff", "unixepoch",
    // math
    "acos", "acosh", "asin", "asinh", "atan", "atan2", "atanh", "ceil", "ceiling", "cos", "cosh",
    "degrees", "exp", "floor", "ln", "log", "log10", "log2", "mod", "pi", "pow", "power", "radians",
    "sin", "sinh", "sqrt", "tan", "tanh", "trunc",
    // JSON (the operators -> and ->> are functions of these names)
    "->", "->>", "json", "json_array", "json_array_length", "json_error_position", "json_extract",
    "json_group_array", "json_group_object", "json_insert", "json_object", "json_patch",
    "json_pretty", "json_quote", "json_remove", "json_replace", "json_set", "json_type",
    "json_valid", "jsonb", "jsonb_array", "jsonb_extract", "jsonb_group_array",
    "jsonb_group_object", "jsonb_insert", "jsonb_object", "jsonb_patch", "jsonb_remove",
    "jsonb_replace", "jsonb_set"};

bool IsHistory(const char* table, const char* database) {
  return table != nullptr && strcasecmp(table, "HISTORY") == 0 &&
         (database == nullptr || std::string(database) == "main");
}

// A table read without a column (count(*)) and the tables of a WITH clause
// or a subquery come without a database; only the schema and the pragma
// tables are real tables among those names.
bool IsStatementTable(const char* table, const char* database) {
  return database == nullptr && table != nullptr && strncasecmp(table, "sqlite_", 7) != 0 &&
         strncasecmp(table, "pragma_", 7) != 0;
}

int Authorize(void* context, int action, const char* first, const char* second,
              const char* database, const char*) {
  int answer = AuthorizeAction(action, first, second, database);
  StatementGuard& guard = *static_cast<StatementGuard*>(context);
  bool writes = action == SQLITE_INSERT || action == SQLITE_UPDATE || action == SQLITE_DELETE;
  if (answer == SQLITE_OK && writes && !guard.mayWrite) {
    guard.mayWrite = true;
    if (guard.beforeWrite != nullptr) guard.beforeWrite();
  }
  return answer;
}

// The alarm rang; the deadline of the free text set up last.
volatile sig_atomic_t Passed = 0;
std::optional<std::chrono::steady_clock::time_point> ArmedDeadline;

// What the signal handler of the wall-time deadline needs, set before it is
// armed: plain bytes, as a handler may only read memory and make system
// calls.
sqlite3* AlarmConnection = nullptr;
char AlarmStorePath[4096];
char AlarmWords[1024];
size_t AlarmWordsLength = 0;
volatile sig_atomic_t AlarmsRung = 0;

void SetTimer(int64_t ms) {
  itimerval timer{};
  timer.it_value.tv_sec = static_cast<time_t>(ms / 1000);
  timer.it_value.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void OnAlarm(int) {
  if (AlarmsRung++ == 0) {
    Passed = 1;
    // Only sets a flag SQLite looks at between its steps.
    sqlite3_interrupt(AlarmConnection);
    SetTimer(kSqlHardStopMs);
    return;
  }
  // Still inside one step. POSIX gives up every lock a process holds on a
  // file when it closes any descriptor of it: so the store is free before
  // anything is written to a client that may not read. A write SQLite began
  // stays in its journal, which the next opener rolls back.
  int fd = open(AlarmStorePath, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) close(fd);
  ssize_t written = write(STDOUT_FILENO, AlarmWords, AlarmWordsLength);
  (void)written;
  _exit(0);
}

constexpr int kProgressSteps = 10000;

// The database may reach its present size plus `growth` on this connection;
// past it a write fails with SQLITE_FULL.
bool BoundGrowth(sqlite3* connection, int64_t growth) {
  // Each failure returns at once, so that SQLite's message tells it (locked,
  // not a database).
  Result<std::optional<int64_t>, StoreFault> pages = QueryInteger(connection, "pragma page_count");
  if (!pages.Ok() || !pages.Value()) return false;
  Result<std::optional<int64_t>, StoreFault> pageSize =
      QueryInteger(connection, "pragma page_size");
  if (!pageSize.Ok() || !pageSize.Value() || *pageSize.Value() <= 0) return false;
  std::string sql =
      "pragma max_page_count = " + std::to_string(*pages.Value() + growth / *pageSize.Value());
  return sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace

bool IsAllowedFunction(const char* name) {
  if (name == nullptr) return false;
  for (const char* allowed : kAllowedFunctions) {
    if (strcasecmp(name, allowed) == 0) return true;
  }
  return false;
}

int AuthorizeAction(int action, const char* first, const char* second, const char* database) {
  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_RECURSIVE:
    case SQLITE_TRANSACTION:
    case SQLITE_SAVEPOINT:
      return SQLITE_OK;
    case SQLITE_READ:
      // Only the rows of HISTORY: not the schema, not a pragma's table.
      return IsHistory(first, database) || IsStatementTable(first, database) ? SQLITE_OK
                                                                             : SQLITE_DENY;
    case SQLITE_FUNCTION:
      return IsAllowedFunction(second) ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
      return IsHistory(first, database) ? SQLITE_OK : SQLITE_DENY;
    default:
      // ATTACH (VACUUM and VACUUM INTO attach too), DETACH, PRAGMA, CREATE,
      // DROP, ALTER, REINDEX, ANALYZE and whatever later versions add.
      return SQLITE_DENY;
  }
}

bool SetUpConnection(sqlite3* connection, void* context) {
  StatementGuard& guard = *static_cast<StatementGuard*>(context);
  int off = 0, on = 1;
  if (sqlite3_db_config(connection, SQLITE_DBCONFIG_DEFENSIVE, on, nullptr) != SQLITE_OK ||
      sqlite3_db_config(connection, SQLITE_DBCONFIG_TRUSTED_SCHEMA, off, nullptr) != SQLITE_OK ||
      sqlite3_db_config(connection, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, off, nullptr) !=
          SQLITE_OK ||
      sqlite3_db_config(connection, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, off, nullptr) !=
          SQLITE_OK)
    return false;
  sqlite3_limit(connection, SQLITE_LIMIT_ATTACHED, 0);
  sqlite3_limit(connection, SQLITE_LIMIT_LENGTH, guard.limits.valueLengthLimit);
  // Process-wide in SQLite; a process runs one statement.
  sqlite3_hard_heap_limit64(guard.limits.heapLimit);
  SetTempStorageLimit(guard.limits.tempLimit);
  guard.connection = connection;
  if (!guard.freeText) return true;
  // Sorts and temporary tables of a free text spill to temporary files
  // within their bound, not into the heap. Both pragmas go before the
  // authorizer, which refuses every pragma of the text.
  if (sqlite3_exec(connection, "pragma temp_store = file", nullptr, nullptr, nullptr) !=
          SQLITE_OK ||
      !BoundGrowth(connection, guard.limits.growthLimit))
    return false;
  if (sqlite3_set_authorizer(connection, Authorize, &guard) != SQLITE_OK) return false;
  guard.deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(guard.limits.deadlineMs);
  ArmedDeadline = guard.deadline;
  sqlite3_progress_handler(connection, kProgressSteps, PastDeadline, &guard.deadline);
  ArmWallDeadline(guard);
  return true;
}

void ArmWallDeadline(const StatementGuard& guard) {
  AlarmConnection = guard.connection;
  std::snprintf(AlarmStorePath, sizeof AlarmStorePath, "%s", guard.storePath.c_str());
  AlarmWordsLength = std::min(guard.lastWords.size(), sizeof AlarmWords);
  std::memcpy(AlarmWords, guard.lastWords.data(), AlarmWordsLength);
  AlarmsRung = 0;
  struct sigaction action {};
  action.sa_handler = OnAlarm;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
  SetTimer(std::max<int64_t>(guard.limits.deadlineMs, 1));
}

void DisarmWallDeadline() {
  SetTimer(0);
}

bool DeadlinePassed() {
  return Passed != 0 || (ArmedDeadline && std::chrono::steady_clock::now() > *ArmedDeadline);
}
