#include "histseries/request.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "common/datetime.h"

namespace {

// A scratch directory that is also the working directory while it lives.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/histseries_request.XXXXXX";
    path_ = mkdtemp(pattern);
    char previous[4096];
    previous_ = getcwd(previous, sizeof previous);
    EXPECT_EQ(chdir(path_.c_str()), 0);
  }
  ~ScratchDir() {
    EXPECT_EQ(chdir(previous_.c_str()), 0);
    std::system(("rm -rf '" + path_ + "'").c_str());
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(name, std::ios::binary) << bytes;
  }

 private:
  std::string path_;
  std::string previous_;
};

Selection ReadText(const std::string& bytes) {
  ScratchDir dir;
  dir.Write("sel.dat", bytes);
  Selection selection;
  FILE* file = std::fopen("sel.dat", "r");
  ReadSelectionFile(file, selection);
  std::fclose(file);
  return selection;
}

std::string Describe(const Selection& s) {
  std::string text;
  for (const SelectionEntry& e : s.objects) {
    text += "[" + e.name + "|" + e.label + "|" + (e.kind ? std::string(1, e.kind) : "") + "]";
  }
  return text + " from=" + s.dateFrom + "/" + s.timeFrom + " to=" + s.dateTo + "/" + s.timeTo;
}

std::string ObjectLines(int count) {
  std::string lines;
  for (int i = 1; i <= count; ++i) lines += "txobs=o" + std::to_string(i) + ";L;N\n";
  return lines;
}

TEST(ReadSelectionFile, ReadsObjectAndPeriodLines) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"plain file",
       "txobs=a1;Temperatur;N\ntxDateFrom=2024-03-01\ntxTimeFrom=08:00:00\n"
       "txDateTo=2024-03-02\ntxTimeTo=09:30:00\ntxobs=b2;Schalter;U\n",
       "[a1|Temperatur|N][b2|Schalter|U] from=2024-03-01/08:00:00 to=2024-03-02/09:30:00"},
      {"short lines and unknown lines are ignored", "ab\nx\n\nfoo=1\ntxobs=c;L;C\n",
       "[c|L|C] from=/ to=/"},
      {"carriage return stays, values cut to their width",
       "txDateFrom=2024-03-01XYZ\r\ntxTimeFrom=08:00\r\ntxDateTo=2024-03-02\ntxTimeTo=1\n",
       " from=2024-03-01/08:00\r to=2024-03-02/1"},
      {"sixth character skipped whatever it is; first kind character only",
       "txobsXa1;L;NC\ntxobs=b;;\n", "[a1|L|N][b||] from=/ to=/"},
      {"object line of only the prefix has an empty value", "txobs\n", "[||] from=/ to=/"},
      {"later period line replaces earlier", "txDateFrom=2024-01-01\ntxDateFrom=2024-02-02\n",
       " from=2024-02-02/ to=/"},
      {"extra fields ignored", "txobs=a;b;U;d;e\n", "[a|b|U] from=/ to=/"},
      {"no final line end", "txobs=z;Z;N", "[z|Z|N] from=/ to=/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Describe(ReadText(c.bytes)), c.expected) << c.what;
  }
}

TEST(ReadSelectionFile, ObjectValueIsCutAt128Characters) {
  std::string name(140, 'n');
  Selection s = ReadText("txobs=" + name + "\n");
  ASSERT_EQ(s.objects.size(), 1u);
  EXPECT_EQ(s.objects[0].name, std::string(128, 'n'));
}

TEST(ReadSelectionFile, LongLineIsReadOnAsNextLine) {
  // 254 characters per read: the rest of the line is read as a line of its own.
  std::string line = "txobs=" + std::string(248, 'a') + "txDateFrom=2024-05-05\n";
  Selection s = ReadText(line);
  ASSERT_EQ(s.objects.size(), 1u);
  EXPECT_EQ(s.dateFrom, "2024-05-05");
}

TEST(ReadSelectionFile, StopsAfterTheTwentyFourthObjectLine) {
  Selection s = ReadText(ObjectLines(25) + "txDateFrom=2024-05-05\n");
  ASSERT_EQ(s.objects.size(), 24u);
  EXPECT_EQ(s.objects[23].name, "o24");
  EXPECT_EQ(s.dateFrom, "");

  Selection before = ReadText("txDateFrom=2024-05-05\n" + ObjectLines(24));
  EXPECT_EQ(before.objects.size(), 24u);
  EXPECT_EQ(before.dateFrom, "2024-05-05");
}

TEST(SelectionFiles, NameComesFromTheRequest) {
  EXPECT_EQ(SelectionFileName(nullptr), "history.dat");
  EXPECT_EQ(SelectionFileName("DFW=mine.dat&txDateFrom=2024-01-01"), "mine.dat");
  EXPECT_EQ(SelectionFileName("txDateFrom=2024-01-01"), "");
  EXPECT_EQ(SelectionFileName("xDFW=mine.dat"), "");
}

TEST(SelectionFiles, FallsBackToHistoryVid) {
  ScratchDir dir;
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
  ScratchDir dir;
  Selection s;
  LoadSelection("history.dat", s);
  EXPECT_EQ(Describe(s), " from=/ to=/");
}

TEST(RequestPeriod, NormalisesTimes) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"12%3A30", "12:30:00"},     {"12%3A30%3A15", "12:30:15"}, {"12:30", "12:30:00"},
      {"12:30:15", "12:30:15"},    {"1230", "00:00:00"},         {"8%3A30", "00:00:00"},
      {"12:30:15:99", "12:30:15:99"},
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizeRequestTime(c.in), c.out) << c.in;
}

TEST(RequestPeriod, TakesEndsThatTheRequestGives) {
  struct Case {
    const char* request;
    const char* from;
    const char* to;
  } cases[] = {
      {"DFW=h.dat&txDateFrom=2024-03-01&txTimeFrom=08%3A00&txDateTo=2024-03-02&txTimeTo=09%3A15",
       "2024-03-01 08:00:00", "2024-03-02 09:15:00"},
      {"txDateFrom=24-3-1&txTimeFrom=08:00&txDateTo=2024-03-02&txTimeTo=09:15", "", ""},
      {"txDateFrom=2024-03-01&txTimeFrom=8:0&txDateTo=2024-03-02&txTimeTo=09:15", "",
       "2024-03-02 09:15:00"},
      {"txDateFrom=2024-03-01&txTimeFrom=08:00&txDateTo=24-3-2&txTimeTo=09:15",
       "2024-03-01 08:00:00", ""},
      {"txDateFrom=2024-03-01&txTimeFrom=08:00&txDateTo=2024-03-02&txTimeTo=915",
       "2024-03-01 08:00:00", ""},
      {"txDateFrom=2024-03-01&txTimeFrom=1230&txDateTo=2024-03-02&txTimeTo=8%3A30",
       "2024-03-01 00:00:00", "2024-03-02 00:00:00"},
  };
  for (const Case& c : cases) {
    std::string from, to;
    TakeRequestPeriod(c.request, from, to);
    EXPECT_EQ(from, c.from) << c.request;
    EXPECT_EQ(to, c.to) << c.request;
  }
}

TEST(RequestPeriod, SelectionFileTakesPrecedence) {
  std::string from = "2024-03-01 08:00:00", to = "2024-03-02 08:00:00";
  Selection s;
  s.dateFrom = "2025-01-01";  // no start time in the file: date and one blank
  TakeFilePeriod(s, from, to);
  EXPECT_EQ(from, "2025-01-01 ");
  EXPECT_EQ(to, "2024-03-02 08:00:00");

  s.dateTo = "2025-01-02";
  s.timeTo = "7%3A00";  // taken as read
  TakeFilePeriod(s, from, to);
  EXPECT_EQ(to, "2025-01-02 7%3A00");

  Selection shortDates;
  shortDates.dateFrom = "25-1-1";
  shortDates.timeFrom = "10:00:00";
  TakeFilePeriod(shortDates, from, to);
  EXPECT_EQ(from, "2025-01-01 ");
}

TEST(RequestPeriod, UsableAndReordered) {
  EXPECT_FALSE(PeriodTextUsable(""));
  EXPECT_FALSE(PeriodTextUsable("2024-03-01"));
  EXPECT_TRUE(PeriodTextUsable("2024-03-01 "));
  EXPECT_EQ(DisplayPeriodText("2024-03-01 08:07:06"), "01.03.2024 08:07:06");
  EXPECT_EQ(DisplayPeriodText("2024-03-01 "), "01.03.2024 ");
  EXPECT_EQ(DisplayPeriodText("2024-03-01 08:07:06:05"), "01.03.2024 08:07:06");
}

TEST(RequestPeriod, EndsThatReadAsNoDate) {
  struct Case {
    const char* displayText;
    bool readable;
  } cases[] = {
      {"05.03.2024 08:00:00", true},
      {"05.03.2024 ", true},           // a file date without time: midnight
      {"00.03.2024 25:75:00", true},   // carried into the next units, as always
      {"05.00.2024 00:00:00", true},   // December of the year before
      {"05.13.2024 00:00:00", false},  // month 13
      {"32.03.2024 00:00:00", false},
      {"05.03.1899 00:00:00", false},
      {"05.03.2040 00:00:00", false},  // beyond the 32-bit stamps
      {"xx.03.2024 00:00:00", false},
      {"05.-3.2024 00:00:00", false},
      {"05.03.24 1 00:00:00", false},  // two-digit year
      {"2024-03-05 08:00", false},     // not re-ordered: no point
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PeriodEndReadable(c.displayText), c.readable) << c.displayText;
  }
  EXPECT_EQ(UtcOffsetSeconds, 0);
}

TEST(SelectionObjects, LaterEntriesOfAChosenNameAreDropped) {
  std::vector<SelectionEntry> objects = {
      {"a1", "A", 'N'},     {"b2", "B", 'C'}, {"a1", "again", 'C'},
      {"A1", "upper", 'U'}, {"c3", "C", 'N'}};
  testing::internal::CaptureStderr();
  DropRepeatedObjects(objects);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "HistSeries: object \"a1\" is chosen again; that later entry is ignored\n"
            "HistSeries: object \"A1\" is chosen again; that later entry is ignored\n");
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_EQ(objects[0].label, "A");
  EXPECT_EQ(objects[1].name, "b2");
  EXPECT_EQ(objects[2].name, "c3");
}

TEST(SeriesQuery, IsOneStatementForAllObjects) {
  std::vector<SelectionEntry> objects = {{"a1", "A", 'N'}, {"b2", "B", 'C'}};
  EXPECT_EQ(BuildSeriesQuery(1709280000, 1709366400, objects),
            "select * from HISTORY where (TimeStamp >= 1709280000 and TimeStamp <= 1709366400) "
            "and State <> \"X\" and (ObjName = 'A1' or ObjName = 'B2') order by TimeStamp");
  EXPECT_EQ(BuildSeriesQuery(-5, 0, {}),
            "select * from HISTORY where (TimeStamp >= -5 and TimeStamp <= 0) and State <> \"X\"");
  EXPECT_EQ(BuildSeriesQuery(1, 2, {{"k\xe4lte'x", "", 'N'}}),
            "select * from HISTORY where (TimeStamp >= 1 and TimeStamp <= 2) and State <> \"X\" "
            "and (ObjName = 'K\xc4LTE''X') order by TimeStamp");
}

}  // namespace
