#include "histquery/statement.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const PeriodStamps kStamps = {1709623800, 1709683140};

Selection Chosen(std::initializer_list<const char*> names) {
  Selection selection;
  selection.period.stamps = kStamps;
  for (const char* name : names) selection.objects.push_back({name, CompareName(name), "", 'N'});
  return selection;
}

// The report reads the period's rows of the objects as compared (the
// reader's order table stands in common/tests/historyreader_test.cpp).
TEST(ReportRead, ThePeriodAndTheComparedNames) {
  HistoryRead read = ReportRead(Chosen({"Licht1", "Heizung"}));
  EXPECT_EQ(read.from, kStamps.from);
  EXPECT_EQ(read.to, kStamps.to);
  EXPECT_EQ(read.names, (std::vector<std::string>{"LICHT1", "HEIZUNG"}));
  EXPECT_TRUE(ReportRead(Chosen({})).names.empty());
}

// The condition the deletion's slices run with (see the slice table of the
// deletion's tests): no State condition, every object without any, quotes
// kept inside their literal, a NUL byte of a name as a blank.
TEST(DeletionCondition, ThePeriodAndTheChosenObjects) {
  struct Case {
    std::vector<std::string> names;
    const char* condition;
  } cases[] = {
      {{"Licht1", "Heizung"},
       "(TimeStamp >= 1709623800 and TimeStamp <= 1709683140) "
       "and (ObjName = 'LICHT1' or ObjName = 'HEIZUNG')"},
      {{}, "(TimeStamp >= 1709623800 and TimeStamp <= 1709683140)"},
      {{"a' or '1'='1", "\xe4u\xdf"},
       "(TimeStamp >= 1709623800 and TimeStamp <= 1709683140) "
       "and (ObjName = 'A'' OR ''1''=''1' or ObjName = '\xc4U\xdf')"},
      {{std::string("a\0b", 3)},
       "(TimeStamp >= 1709623800 and TimeStamp <= 1709683140) "
       "and (ObjName = 'A B')"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> compared;
    for (const std::string& name : c.names) compared.push_back(CompareName(name));
    EXPECT_EQ(DeletionCondition(kStamps, compared), c.condition);
  }
}

TEST(SqlStatement, BindsThePeriodToTheCondition) {
  EXPECT_EQ(
      SqlStatement(ParseReportRequest("SQL=select+ObjName%2C+State+from+HISTORY+where+State+%3D+"
                                      "%27X%27+or+State+%3D+%27%27")
                       .sqlText,
                   kStamps),
      "select ObjName, State from HISTORY where (TimeStamp >= 1709623800 and TimeStamp <= "
      "1709683140) and (State = 'X' or State = '')");
}

}  // namespace
