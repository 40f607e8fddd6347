#include "histseries/seriesfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/tests/scratchdir.h"

namespace {

// 2026-12-07 00:00:00 in the store's wall-clock count.
constexpr int32_t kDay = 1796601600;
const char* const kFrom = "2026-12-07 00:00:00";
const char* const kTo = "2026-12-08 00:00:00";

// Each test runs in its own scratch working directory with a fresh export.
class SeriesTest : public testing::Test, protected ScratchDir {
 protected:
  SeriesTest() : ScratchDir(Enter::Yes) {
    table_.periodFrom = kFrom;
    table_.periodTo = kTo;
  }

  // The writer's steps as main takes them: each message on standard error.
  static void Print(const Result<Done, SeriesFault>& step) {
    std::fputs(step.Message().c_str(), stderr);
  }
  // Opens the series of `objects` ("name;label;kind" each) in list order.
  void Open(const std::vector<SelectionEntry>& objects) {
    for (const SelectionEntry& entry : objects) Print(OpenSeries(table_, entry));
  }
  void Close() {
    for (SeriesObject& series : table_.series) Print(CloseSeries(table_, series));
  }
  // A HISTORY row as the store hands it over (stamp, then columns 2 to
  // `columns`); null stands for SQL NULL.
  void Row(int32_t stamp, const char* objName, const char* value, int columns = 7) {
    const char* texts[7] = {nullptr, objName, "N", value, "1", "Taster", ""};
    size_t lengths[7] = {};
    for (int i = 1; i < 7; ++i) lengths[i] = texts[i] != nullptr ? std::strlen(texts[i]) : 0;
    const char* names[7] = {"TimeStamp", "ObjName", "ObjKind", "Value",
                            "ValueText", "Source",  "State"};
    HistoryRow row;
    row.stamp = stamp;
    row.columnCount = columns;
    row.texts = texts;
    row.lengths = lengths;
    row.names = names;
    OnHistoryRow(&table_, row);
  }
  static bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
  }

  SeriesTable table_;
};

TEST_F(SeriesTest, ObjectWithoutRowsHoldsOnlyTheClosingLine) {
  Open({{"a1", "Temperatur", 'N'}, {"c1", "Z", 'C'}, {"u1", "Z", 'U'}, {"x1", "Z", 'Q'}});
  Close();
  for (const char* file : {"a1.sqr", "c1.sqr", "u1.sqr", "x1.sqr"}) {
    EXPECT_EQ(Read(file), "2026-12-08 00:00:00, \n") << file;
  }
}

TEST_F(SeriesTest, KindNThinsSmallChanges) {
  Open({{"a1", "Temperatur", 'N'}});
  Row(kDay + 100, "A1", "20.0");
  Row(kDay + 110, "A1", "20.05");
  Row(kDay + 120, "A1", "20.2");
  Row(kDay + 130, "A1", "20.25");  // held back: the closing line repeats 20.2
  Close();
  EXPECT_EQ(Read("a1.sqr"),
            "Zeit, Temperatur\n"
            "2026-12-07 00:00:00,20.0\n"
            "2026-12-07 00:01:40,20.0\n"
            "2026-12-07 00:02:00,20.2\n"
            "2026-12-08 00:00:00,20.2\n");
}

TEST_F(SeriesTest, KindNWritesAgainOnlyAfterMoreThanMaxGap) {
  Open({{"a", "L", 'N'}, {"b", "L", 'N'}});
  Row(kDay, "A", "5");
  Row(kDay + 1800, "A", "5");  // exactly maxGap: held back
  Row(kDay, "B", "5");
  Row(kDay + 1801, "B", "5");
  Close();
  EXPECT_EQ(Read("a.sqr"),
            "Zeit, L\n2026-12-07 00:00:00,5\n2026-12-07 00:00:00,5\n"
            "2026-12-08 00:00:00,5\n");
  EXPECT_EQ(Read("b.sqr"),
            "Zeit, L\n2026-12-07 00:00:00,5\n2026-12-07 00:00:00,5\n"
            "2026-12-07 00:30:01,5\n2026-12-08 00:00:00,5\n");
}

TEST_F(SeriesTest, KindNChangeOfExactlyTheDeadbandIsHeldBack) {
  // The difference is taken in 32-bit float: 0.09 - 0 is exactly the deadband.
  ASSERT_EQ(fabsf(0.0f - static_cast<float>(std::atof("0.09"))), kDefaultDeadband);
  ASSERT_GT(fabsf(0.0f - static_cast<float>(std::atof("0.0900001"))), kDefaultDeadband);
  Open({{"a", "L", 'N'}});
  Row(kDay + 1, "A", "0");
  Row(kDay + 2, "A", "0.09");
  Row(kDay + 3, "A", "-0.09");
  Row(kDay + 4, "A", "0.0900001");
  Close();
  EXPECT_EQ(Read("a.sqr"),
            "Zeit, L\n2026-12-07 00:00:00,0\n2026-12-07 00:00:01,0\n"
            "2026-12-07 00:00:04,0.0900001\n2026-12-08 00:00:00,0.0900001\n");
}

TEST_F(SeriesTest, KindNUsesTheSelectedLimits) {
  SelectThinning(table_, kWeekSeconds + 1);
  Open({{"a", "L", 'N'}});
  Row(kDay, "A", "1.0");
  Row(kDay + 10, "A", "1.15");    // 0.15 < 0.19
  Row(kDay + 3600, "A", "1.0");   // exactly one hour
  Row(kDay + 3610, "A", "1.25");  // 0.25 > 0.19
  Close();
  EXPECT_EQ(Read("a.sqr"),
            "Zeit, L\n2026-12-07 00:00:00,1.0\n2026-12-07 00:00:00,1.0\n"
            "2026-12-07 01:00:10,1.25\n2026-12-08 00:00:00,1.25\n");
}

TEST_F(SeriesTest, FirstRowIsAlwaysWritten) {
  // Also a row so early that its time is no more than maxGap behind 0.
  Open({{"a", "L", 'N'}, {"c", "L", 'C'}});
  Row(0, "A", "0");
  Row(0, "C", "7");
  Close();
  EXPECT_EQ(Read("a.sqr"),
            "Zeit, L\n2026-12-07 00:00:00,0\n1970-01-01 00:00:00,0\n2026-12-08 00:00:00,0\n");
  EXPECT_EQ(Read("c.sqr"), "Zeit, L\n2026-12-07 00:00:00,7\n2026-12-08 00:00:00,7\n");
}

TEST_F(SeriesTest, KindCIsAStepCurve) {
  Open({{"c", "Modus", 'C'}});
  Row(kDay + 60, "C", "a");
  Row(kDay + 120, "C", "a");
  Row(kDay + 180, "C", "b");
  Close();
  EXPECT_EQ(Read("c.sqr"),
            "Zeit, Modus\n2026-12-07 00:00:00,a\n2026-12-07 00:03:00,a\n"
            "2026-12-07 00:03:00,b\n2026-12-08 00:00:00,b\n");
}

TEST_F(SeriesTest, KindUTakesTheEarlierLevelAsTheOpposite) {
  Open({{"u", "Schalter", 'U'}});
  Row(kDay + 60, "U", "1.0");
  Row(kDay + 120, "U", "0.0");
  Row(kDay + 180, "U", "0.0");
  Close();
  EXPECT_EQ(Read("u.sqr"),
            "Zeit, Schalter\n2026-12-07 00:00:00,0\n"
            "2026-12-07 00:01:00,0\n2026-12-07 00:01:00,1\n"
            "2026-12-07 00:02:00,1\n2026-12-07 00:02:00,0\n"
            "2026-12-07 00:03:00,0\n"
            "2026-12-08 00:00:00,0\n");
}

TEST_F(SeriesTest, KindUValuesShorterThanTwoBecomeEmpty) {
  Open({{"u", "S", 'U'}, {"v", "S", 'U'}});
  Row(kDay + 60, "U", "1");
  Row(kDay + 120, "U", "");
  Row(kDay + 60, "V", "0.0");
  Row(kDay + 120, "V", nullptr);
  Close();
  EXPECT_EQ(Read("u.sqr"),
            "Zeit, S\n2026-12-07 00:00:00,0\n2026-12-07 00:01:00,0\n2026-12-07 00:01:00,\n"
            "2026-12-07 00:02:00,\n2026-12-08 00:00:00,\n");
  EXPECT_EQ(Read("v.sqr"),
            "Zeit, S\n2026-12-07 00:00:00,1\n2026-12-07 00:01:00,1\n2026-12-07 00:01:00,0\n"
            "2026-12-07 00:02:00,0\n2026-12-07 00:02:00,\n2026-12-08 00:00:00,\n");
}

TEST_F(SeriesTest, LongValuesAreCarriedUpToThirtyOneBytes) {
  const std::string v31 = "abcdefgh-0123456789-0123456789X";  // 31 bytes
  ASSERT_EQ(v31.size(), 31u);
  Open({{"c", "L", 'C'}, {"n", "L", 'N'}, {"d", "L", 'C'}});
  Row(kDay + 1, "C", "abcdefgh-1");
  Row(kDay + 2, "C", "abcdefgh-2");  // differs only behind the eighth byte
  Row(kDay + 3, "C", (v31 + "tail").c_str());
  Row(kDay + 1, "N", "1234.56789012");
  Row(kDay + 1, "D", "x");
  Close();
  EXPECT_EQ(Read("c.sqr"),
            "Zeit, L\n2026-12-07 00:00:00,abcdefgh-1\n"
            "2026-12-07 00:00:02,abcdefgh-1\n2026-12-07 00:00:02,abcdefgh-2\n"
            "2026-12-07 00:00:03,abcdefgh-2\n2026-12-07 00:00:03," +
                v31 +
                "\n"
                "2026-12-08 00:00:00," +
                v31 + "\n");
  EXPECT_EQ(Read("n.sqr"),
            "Zeit, L\n2026-12-07 00:00:00,1234.56789012\n2026-12-07 00:00:01,1234.56789012\n"
            "2026-12-08 00:00:00,1234.56789012\n");
  EXPECT_EQ(Read("d.sqr"), "Zeit, L\n2026-12-07 00:00:00,x\n2026-12-08 00:00:00,x\n");
}

TEST_F(SeriesTest, NullValueReadsAsEmptyText) {
  Open({{"n", "L", 'N'}, {"c", "L", 'C'}});
  Row(kDay + 1, "N", nullptr);
  Row(kDay + 1, "C", "on");
  Row(kDay + 2, "C", nullptr);
  Close();
  EXPECT_EQ(Read("n.sqr"),
            "Zeit, L\n2026-12-07 00:00:00,\n2026-12-07 00:00:01,\n2026-12-08 00:00:00,\n");
  EXPECT_EQ(Read("c.sqr"),
            "Zeit, L\n2026-12-07 00:00:00,on\n2026-12-07 00:00:02,on\n2026-12-07 00:00:02,\n"
            "2026-12-08 00:00:00,\n");
}

TEST_F(SeriesTest, RowsThatServeNoSeriesAreIgnored) {
  Open({{"a1", "L", 'C'}, {"A1", "second", 'C'}, {"q", "L", '\0'}});
  Row(kDay + 1, "a1", "3");  // stored names are upper-case
  Row(kDay + 2, nullptr, "4");
  Row(kDay + 3, "B", "5");
  Row(kDay + 4, "A1", "6");     // only the first entry of a name is served
  Row(kDay + 5, "Q", "7");      // a kind without rules writes nothing
  Row(kDay + 6, "A1", "x", 2);  // no value column
  Close();
  EXPECT_EQ(Read("a1.sqr"),
            "Zeit, L\n2026-12-07 00:00:00,6\n2026-12-07 00:00:06,6\n2026-12-07 00:00:06,\n"
            "2026-12-08 00:00:00,\n");
  EXPECT_EQ(Read("A1.sqr"), "2026-12-08 00:00:00, \n");
  EXPECT_EQ(Read("q.sqr"), "2026-12-08 00:00:00, \n");
}

TEST_F(SeriesTest, NamesThatAreNoPlainFileNamesGetNoSeries) {
  ASSERT_EQ(mkdir("sub", 0700), 0);
  testing::internal::CaptureStderr();
  Open({{"sub/x", "L", 'C'},
        {"../up", "L", 'C'},
        {".", "L", 'C'},
        {"..", "L", 'C'},
        {"ok", "L", 'C'}});
  Row(kDay + 1, "SUB/X", "1");
  Row(kDay + 1, "OK", "2");
  Close();
  std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(messages,
            "HistSeries: object name \"sub/x\" is not a plain file name; no series file for it\n"
            "HistSeries: object name \"../up\" is not a plain file name; no series file for it\n"
            "HistSeries: object name \".\" is not a plain file name; no series file for it\n"
            "HistSeries: object name \"..\" is not a plain file name; no series file for it\n");
  EXPECT_FALSE(Exists("sub/x.sqr"));
  EXPECT_FALSE(Exists("../up.sqr"));
  EXPECT_FALSE(Exists("..sqr"));
  EXPECT_FALSE(Exists("...sqr"));
  EXPECT_EQ(Read("ok.sqr"), "Zeit, L\n2026-12-07 00:00:00,2\n2026-12-08 00:00:00,2\n");
}

TEST_F(SeriesTest, SeriesFileThatCannotBeCreatedIsSkipped) {
  ASSERT_EQ(mkdir("busy.sqr", 0700), 0);  // a directory stands where the file would go
  testing::internal::CaptureStderr();
  Open({{"busy", "L", 'N'}, {"ok", "L", 'N'}});
  Row(kDay + 1, "BUSY", "1");
  Row(kDay + 1, "OK", "2");
  Close();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "HistSeries: cannot create series file busy.sqr: Is a directory\n");
  EXPECT_EQ(Read("ok.sqr"),
            "Zeit, L\n2026-12-07 00:00:00,2\n2026-12-07 00:00:01,2\n"
            "2026-12-08 00:00:00,2\n");
}

TEST_F(SeriesTest, SeriesIsRenamedIntoPlaceOnlyWhenClosed) {
  { std::ofstream("a1.sqr") << "old\n"; }
  Open({{"a1", "L", 'C'}});
  Row(kDay + 1, "A1", "7");
  EXPECT_EQ(Read("a1.sqr"), "old\n");  // a reader meanwhile sees the last good series
  ASSERT_EQ(Entries().size(), 2u);
  Close();
  EXPECT_EQ(Read("a1.sqr"), "Zeit, L\n2026-12-07 00:00:00,7\n2026-12-08 00:00:00,7\n");
  EXPECT_EQ(Entries(), std::vector<std::string>{"a1.sqr"});
  struct stat info;
  ASSERT_EQ(stat("a1.sqr", &info), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST_F(SeriesTest, FailedQueryKeepsThePreviousSeries) {
  { std::ofstream("a1.sqr") << "old\n"; }
  testing::internal::CaptureStderr();
  Open({{"a1", "L", 'C'}, {"new1", "L", 'C'}});
  Row(kDay + 1, "A1", "7");
  for (SeriesObject& series : table_.series) Print(AbandonSeries(table_, series));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "HistSeries: the history query failed; a1.sqr is kept as it was\n");
  EXPECT_EQ(Read("a1.sqr"), "old\n");
  // Without an earlier series the caller still finds one.
  EXPECT_EQ(Read("new1.sqr"), "2026-12-08 00:00:00, \n");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a1.sqr", "new1.sqr"}));
}

TEST_F(SeriesTest, WriteErrorKeepsThePreviousSeries) {
  { std::ofstream("a1.sqr") << "old\n"; }
  testing::internal::CaptureStderr();
  Open({{"a1", "L", 'C'}});
  // A stream that fails every write, as on a full disk.
  std::fclose(table_.series[0].output.stream);
  table_.series[0].output.stream = std::fopen("/dev/full", "w");
  ASSERT_NE(table_.series[0].output.stream, nullptr);
  Row(kDay + 1, "A1", "7");
  Close();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "HistSeries: cannot write series file a1.sqr: No space left on device; "
            "the previous file is kept\n");
  EXPECT_EQ(Read("a1.sqr"), "old\n");
  EXPECT_EQ(Entries(), std::vector<std::string>{"a1.sqr"});
}

TEST(SelectThinning, ChoosesLimitsByPeriodLength) {
  struct Case {
    int64_t length;
    float deadband;
    int32_t maxGap;
  } cases[] = {
      {0, 0.09f, 1800},       {604800, 0.09f, 1800},   {604801, 0.19f, 3600},
      {2419200, 0.19f, 3600}, {2419201, 0.29f, 10800}, {-100, 0.09f, 1800},
  };
  for (const Case& c : cases) {
    SeriesTable table;
    SelectThinning(table, c.length);
    EXPECT_EQ(table.deadband, c.deadband) << c.length;
    EXPECT_EQ(table.maxGap, c.maxGap) << c.length;
  }
}

}  // namespace
