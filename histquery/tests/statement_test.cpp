#include "histquery/statement.h"

#include <gtest/gtest.h>

#include <string>

namespace {

ReportState Chosen(const std::string& request, std::initializer_list<const char*> names) {
  ReportState state;
  state.request = ParseReportRequest(request);
  state.period.stamps.from = 1709623800;
  state.period.stamps.to = 1709683140;
  for (const char* name : names) state.entries[state.entryCount++].name = name;
  return state;
}

TEST(BuildStatement, ReportAndDeletionOfTheChosenObjects) {
  ReportState report = Chosen("obj=x", {"Licht1", "Heizung"});
  EXPECT_EQ(BuildStatement(report),
            "select * from HISTORY where (TimeStamp >= 1709623800 and TimeStamp <= 1709683140) "
            "and State is not \"X\" and (ObjName = 'LICHT1' or ObjName = 'HEIZUNG') order by "
            "TimeStamp");
  EXPECT_EQ(report.request.mode, ReportMode::Objects);
  EXPECT_EQ(ComparedNames(report)[1], "HEIZUNG");

  ReportState deletion = Chosen("ACTION=DEL&obj=x", {"Licht1", "Heizung"});
  EXPECT_EQ(BuildStatement(deletion),
            "delete from HISTORY where (TimeStamp >= 1709623800 and TimeStamp <= 1709683140) "
            "and (ObjName = 'LICHT1' or ObjName = 'HEIZUNG')");
  EXPECT_EQ(deletion.request.mode, ReportMode::Deletion);
}

TEST(BuildStatement, WithoutObjectsCoversEveryObject) {
  ReportState report = Chosen("", {});
  EXPECT_EQ(BuildStatement(report),
            "select * from HISTORY where (TimeStamp >= 1709623800 and TimeStamp <= 1709683140) "
            "and State is not \"X\"");
  ReportState deletion = Chosen("ACTION=DEL", {});
  EXPECT_EQ(BuildStatement(deletion),
            "delete from HISTORY where (TimeStamp >= 1709623800 and TimeStamp <= 1709683140)");
}

TEST(BuildStatement, OnlyExactlyDelDeletes) {
  for (const char* request : {"ACTION=del", "ACTION=DELETE", "xACTION=DEL", "ACTION=", "a=1"}) {
    ReportState state = Chosen(request, {"A"});
    EXPECT_EQ(BuildStatement(state).substr(0, 6), "select") << request;
  }
}

TEST(BuildStatement, QuotesInNamesStayInsideTheLiteral) {
  ReportState state = Chosen("ACTION=DEL", {"a' or '1'='1", "\xe4u\xdf"});
  EXPECT_EQ(BuildStatement(state),
            "delete from HISTORY where (TimeStamp >= 1709623800 and TimeStamp <= 1709683140) "
            "and (ObjName = 'A'' OR ''1''=''1' or ObjName = '\xc4U\xdf')");
}

TEST(BuildStatement, BindsThePeriodToTheCondition) {
  ReportState state = Chosen(
      "SQL=select+ObjName%2C+State+from+HISTORY+where+State+%3D+%27X%27+or+State+%3D+%27%27", {});
  EXPECT_EQ(BuildStatement(state),
            "select ObjName, State from HISTORY where (TimeStamp >= 1709623800 and TimeStamp <= "
            "1709683140) and (State = 'X' or State = '')");
}

}  // namespace
