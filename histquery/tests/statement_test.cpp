#include "histquery/statement.h"

#include <gtest/gtest.h>

#include <string>

namespace {

ReportState Chosen(const std::string& request, std::initializer_list<const char*> names) {
  ReportState state;
  state.request = request;
  state.period.stamps.from = 1709623800;
  state.period.stamps.to = 1709683140;
  for (const char* name : names) state.entries[state.entryCount++].name = name;
  return state;
}

TEST(BuildObjectStatement, ReportAndDeletionOfTheChosenObjects) {
  ReportState report = Chosen("obj=x", {"Licht1", "Heizung"});
  EXPECT_EQ(BuildObjectStatement(report),
            "select * from HISTORY where (TimeStamp >= 1709623800 and TimeStamp <= 1709683140) "
            "and State <> \"X\" and (ObjName = 'LICHT1' or ObjName = 'HEIZUNG') order by "
            "TimeStamp");
  EXPECT_FALSE(report.deleteFlag);
  EXPECT_EQ(report.objectNames[1], "HEIZUNG");

  ReportState deletion = Chosen("ACTION=DEL&obj=x", {"Licht1", "Heizung"});
  EXPECT_EQ(BuildObjectStatement(deletion),
            "delete from HISTORY where (TimeStamp >= 1709623800 and TimeStamp <= 1709683140) "
            "and (ObjName = 'LICHT1' or ObjName = 'HEIZUNG')");
  EXPECT_TRUE(deletion.deleteFlag);
}

TEST(BuildObjectStatement, WithoutObjectsCoversEveryObject) {
  ReportState report = Chosen("", {});
  EXPECT_EQ(BuildObjectStatement(report),
            "select * from HISTORY where (TimeStamp >= 1709623800 and TimeStamp <= 1709683140) "
            "and State <> \"X\"");
  ReportState deletion = Chosen("ACTION=DEL", {});
  EXPECT_EQ(BuildObjectStatement(deletion),
            "delete from HISTORY where (TimeStamp >= 1709623800 and TimeStamp <= 1709683140)");
}

TEST(BuildObjectStatement, OnlyExactlyDelDeletes) {
  for (const char* request : {"ACTION=del", "ACTION=DELETE", "xACTION=DEL", "ACTION=", "a=1"}) {
    ReportState state = Chosen(request, {"A"});
    EXPECT_EQ(BuildObjectStatement(state).substr(0, 6), "select") << request;
  }
}

TEST(BuildObjectStatement, QuotesInNamesStayInsideTheLiteral) {
  ReportState state = Chosen("ACTION=DEL", {"a' or '1'='1", "\xe4u\xdf"});
  EXPECT_EQ(BuildObjectStatement(state),
            "delete from HISTORY where (TimeStamp >= 1709623800 and TimeStamp <= 1709683140) "
            "and (ObjName = 'A'' OR ''1''=''1' or ObjName = '\xc4U\xdf')");
}

TEST(BuildSqlStatement, BindsThePeriodToTheCondition) {
  ReportState state = Chosen("", {});
  state.sqlText = "select ObjName, State from HISTORY where State = 'X' or State = ''";
  EXPECT_EQ(BuildSqlStatement(state),
            "select ObjName, State from HISTORY where (TimeStamp >= 1709623800 and TimeStamp <= "
            "1709683140) and (State = 'X' or State = '')");
}

}  // namespace
