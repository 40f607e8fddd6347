#include "common/historystatement.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ReportStatement, PeriodStateAndObjects) {
  struct Case {
    int32_t from;
    int32_t to;
    std::vector<std::string> names;
    const char* statement;
  } cases[] = {
      {1709280000,
       1709366400,
       {"A1", "B2"},
       "select * from HISTORY where (TimeStamp >= 1709280000 and TimeStamp <= 1709366400) "
       "and State is not \"X\" and (ObjName = 'A1' or ObjName = 'B2') order by TimeStamp"},
      {-5,
       0,
       {},
       "select * from HISTORY where (TimeStamp >= -5 and TimeStamp <= 0) and State is not \"X\""},
      {1,
       2,
       {"K\xc4LTE'X"},
       "select * from HISTORY where (TimeStamp >= 1 and TimeStamp <= 2) and State is not \"X\" "
       "and (ObjName = 'K\xc4LTE''X') order by TimeStamp"},
  };
  for (const Case& c : cases) EXPECT_EQ(ReportStatement(c.from, c.to, c.names), c.statement);
}

TEST(ObjectCondition, EmptyWithoutNames) {
  EXPECT_EQ(ObjectCondition({}), "");
  EXPECT_EQ(ObjectCondition({"A"}), " and (ObjName = 'A')");
  EXPECT_EQ(PeriodCondition(INT32_MIN, INT32_MAX),
            "(TimeStamp >= -2147483648 and TimeStamp <= 2147483647)");
}

}  // namespace
