#include "histquery/sqlperiod.h"

#include <gtest/gtest.h>

namespace {

TEST(BindPeriod, TheWholeConditionOfEveryWhere) {
  struct Case {
    const char* text;
    const char* bound;
  } cases[] = {
      // An "or" stays inside the period.
      {"delete from HISTORY where ObjName = 'A' or ObjName = 'B'",
       "delete from HISTORY where (P) and (ObjName = 'A' or ObjName = 'B')"},
      {"select * from HISTORY WHERE State = 'X'",
       "select * from HISTORY WHERE (P) and (State = 'X')"},
      {"select * from HISTORY Where\t1", "select * from HISTORY Where (P) and (1)"},
      // Quotes, identifiers and comments are not looked into; words that
      // hold "where" are no keyword.
      {"select 'nowhere', \"where\", `where`, [where] from HISTORY",
       "select 'nowhere', \"where\", `where`, [where] from HISTORY"},
      {"select nowhere, where_x from HISTORY", "select nowhere, where_x from HISTORY"},
      {"select * from HISTORY where ObjName = 'it''s where' or 1",
       "select * from HISTORY where (P) and (ObjName = 'it''s where' or 1)"},
      {"select * from HISTORY /* where */ where 1 -- where or 2",
       "select * from HISTORY /* where */ where (P) and (1) -- where or 2"},
      {"select * from HISTORY where a or /* x */ b order by 1",
       "select * from HISTORY where (P) and (a or /* x */ b) order by 1"},
      // Clause keywords at the same depth end the condition.
      {"select ObjName, count(*) from HISTORY where a or b group by ObjName having count(*) > 1",
       "select ObjName, count(*) from HISTORY where (P) and (a or b) group by ObjName having "
       "count(*) > 1"},
      {"select * from HISTORY where a or b ORDER BY TimeStamp LIMIT 5",
       "select * from HISTORY where (P) and (a or b) ORDER BY TimeStamp LIMIT 5"},
      {"select * from HISTORY where a union select * from HISTORY where b",
       "select * from HISTORY where (P) and (a) union select * from HISTORY where (P) and (b)"},
      {"delete from HISTORY where a returning *",
       "delete from HISTORY where (P) and (a) returning *"},
      // Subqueries: an inner where ends at the parenthesis around it; one in
      // the condition of another stays inside it.
      {"select * from HISTORY where ObjName in (select ObjName from HISTORY where State = 'X' or "
       "1) or 2",
       "select * from HISTORY where (P) and (ObjName in (select ObjName from HISTORY where (P) and "
       "(State = 'X' or 1)) or 2)"},
      {"select * from (select * from HISTORY where a or b order by 1) where c",
       "select * from (select * from HISTORY where (P) and (a or b) order by 1) where (P) and (c)"},
      {"select count(*) filter (where a or b) from HISTORY",
       "select count(*) filter (where (P) and (a or b)) from HISTORY"},
      {"select * from HISTORY where (a or b) and c",
       "select * from HISTORY where (P) and ((a or b) and c)"},
      // Every statement of the text.
      {"update HISTORY set State = 'X' where a or b; delete from HISTORY where c;",
       "update HISTORY set State = 'X' where (P) and (a or b); delete from HISTORY where (P) and "
       "(c);"},
      // Without a where there is no period.
      {"select count(*) from HISTORY", "select count(*) from HISTORY"},
      {"select * from HISTORY where", "select * from HISTORY where (P) and ()"},
      {"select 'where", "select 'where"},
  };
  for (const Case& c : cases) EXPECT_EQ(BindPeriod(c.text, "(P)"), c.bound) << c.text;
}

}  // namespace
