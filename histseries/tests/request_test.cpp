#include "histseries/request.h"

#include <gtest/gtest.h>

#include <string>

#include "common/tests/scratchdir.h"

namespace {

std::string Describe(const Selection& s) {
  std::string text;
  for (const SelectionEntry& e : s.objects) {
    text += "[" + e.name + "|" + e.label + "|" + (e.kind ? std::string(1, e.kind) : "") + "]";
  }
  return text + " from=" + s.period.dateFrom + "/" + s.period.timeFrom + " to=" + s.period.dateTo +
         "/" + s.period.timeTo;
}

TEST(SelectionFiles, NameComesFromTheRequest) {
  EXPECT_EQ(SelectionFileName(nullptr), "history.dat");
  EXPECT_EQ(SelectionFileName("DFW=mine.dat&txDateFrom=2024-01-01"), "mine.dat");
  EXPECT_EQ(SelectionFileName("txDateFrom=2024-01-01"), "");
  EXPECT_EQ(SelectionFileName("xDFW=mine.dat"), "");
}

TEST(SelectionFiles, FallsBackToHistoryVid) {
  ScratchDir dir(ScratchDir::Enter::Yes);
  dir.Write("history.vid", "txobs=v;V;N\n");
  Selection s;
  LoadSelection("missing.dat", s);
  EXPECT_EQ(Describe(s), "[v|V|N] from=/ to=/");

  dir.Write("history.dat", "txobs=d;D;C\n");
  Selection named;
  LoadSelection("history.dat", named);
  EXPECT_EQ(Describe(named), "[d|D|C] from=/ to=/");

  Selection unnamed;
  LoadSelection("", unnamed);
  EXPECT_EQ(Describe(unnamed), "[v|V|N] from=/ to=/");
}

TEST(SelectionFiles, NeitherFileLeavesTheSelectionEmpty) {
  ScratchDir dir(ScratchDir::Enter::Yes);
  Selection s;
  LoadSelection("history.dat", s);
  EXPECT_EQ(Describe(s), " from=/ to=/");
}

TEST(SelectionObjects, LaterEntriesOfAChosenNameAreDropped) {
  std::vector<SelectionEntry> objects = {{"a1", "A", 'N'},
                                         {"b2", "B", 'C'},
                                         {"a1", "again", 'C'},
                                         {"A1", "upper", 'U'},
                                         {"c3", "C", 'N'}};
  EXPECT_EQ(DropRepeatedObjects(objects), (std::vector<std::string>{"a1", "A1"}));
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_EQ(objects[0].label, "A");
  EXPECT_EQ(objects[1].name, "b2");
  EXPECT_EQ(objects[2].name, "c3");
}

}  // namespace
