#include "histquery/sqllimits.h"

#include <sqlite3.h>
#include <strings.h>

namespace {

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

int Authorize(void* guard, int action, const char* first, const char* second, const char* database,
              const char*) {
  return AuthorizeAction(*static_cast<StatementGuard*>(guard), action, first, second, database);
}

// Called every few thousand steps of a free text: non-zero ends the statement.
int PastDeadline(void* guard) {
  return std::chrono::steady_clock::now() > static_cast<StatementGuard*>(guard)->deadline ? 1 : 0;
}

constexpr int kProgressSteps = 10000;

}  // namespace

int AuthorizeAction(StatementGuard& guard, int action, const char* first, const char* second,
                    const char* database) {
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
      return second != nullptr && strcasecmp(second, "load_extension") == 0 ? SQLITE_DENY
                                                                            : SQLITE_OK;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
      if (!IsHistory(first, database)) return SQLITE_DENY;
      if (guard.readOnly) {
        guard.writeRefused = true;
        return SQLITE_DENY;
      }
      return SQLITE_OK;
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
          SQLITE_OK)
    return false;
  sqlite3_limit(connection, SQLITE_LIMIT_ATTACHED, 0);
  sqlite3_limit(connection, SQLITE_LIMIT_LENGTH, guard.limits.valueLengthLimit);
  // Process-wide in SQLite; a process runs one statement.
  sqlite3_hard_heap_limit64(guard.limits.heapLimit);
  if (!guard.freeText) return true;
  if (sqlite3_set_authorizer(connection, Authorize, &guard) != SQLITE_OK) return false;
  guard.deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(guard.limits.deadlineMs);
  sqlite3_progress_handler(connection, kProgressSteps, PastDeadline, &guard);
  return true;
}
