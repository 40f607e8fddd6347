#include "common/selection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The two layouts the history programs read their selection files with.
const SelectionLayout kReport = {"obj=", 4, 8};
const SelectionLayout kSeries = {"txobs", 6, 24};

SelectionFileValues ReadText(const std::string& bytes, const SelectionLayout& layout) {
  std::vector<char> buffer(bytes.begin(), bytes.end());
  SelectionFileValues values;
  FILE* file = fmemopen(buffer.data(), buffer.size(), "r");
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return values;
  ReadSelectionLines(file, layout, values);
  std::fclose(file);
  return values;
}

std::string Describe(const SelectionFileValues& s) {
  std::string text;
  for (const SelectionEntry& e : s.objects) {
    text += "[" + e.name + "|" + e.label + "|" + (e.kind ? std::string(1, e.kind) : "") + "]";
  }
  return text + " from=" + s.period.dateFrom + "/" + s.period.timeFrom + " to=" + s.period.dateTo +
         "/" + s.period.timeTo;
}

std::string ObjectLines(const char* prefix, int count) {
  std::string lines;
  for (int i = 1; i <= count; ++i) lines += prefix + std::to_string(i) + ";L;N\n";
  return lines;
}

TEST(ReadSelectionLines, ReadsObjectAndPeriodLines) {
  struct Case {
    const char* what;
    const SelectionLayout& layout;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"plain file", kSeries,
       "txobs=a1;Temperatur;N\ntxDateFrom=2024-03-01\ntxTimeFrom=08:00:00\n"
       "txDateTo=2024-03-02\ntxTimeTo=09:30:00\ntxobs=b2;Schalter;U\n",
       "[a1|Temperatur|N][b2|Schalter|U] from=2024-03-01/08:00:00 to=2024-03-02/09:30:00"},
      {"plain report file", kReport,
       "obj=a1;Temperatur;N\ntxDateFrom=2024-03-01\ntxTimeFrom=08:00:00\n"
       "txDateTo=2024-03-02\ntxTimeTo=09:30:00\nobj=b2;Schalter;U\n",
       "[a1|Temperatur|N][b2|Schalter|U] from=2024-03-01/08:00:00 to=2024-03-02/09:30:00"},
      {"short lines and unknown lines are ignored", kSeries, "ab\nx\n\nfoo=1\ntxobs=c;L;C\n",
       "[c|L|C] from=/ to=/"},
      {"the other program's object lines are unknown lines", kReport, "txobs=a;L;N\nobj=b;M;U\n",
       "[b|M|U] from=/ to=/"},
      {"carriage return stays, values cut to their width", kSeries,
       "txDateFrom=2024-03-01XYZ\r\ntxTimeFrom=08:00\r\ntxDateTo=2024-03-02\ntxTimeTo=1\n",
       " from=2024-03-01/08:00\r to=2024-03-02/1"},
      {"report values cut to their width", kReport,
       "txDateFrom=2024-03-05EXTRA\ntxTimeFrom=07:30:00EXTRA\n", " from=2024-03-05/07:30:00 to=/"},
      {"sixth character skipped whatever it is; first kind character only", kSeries,
       "txobsXa1;L;NC\ntxobs=b;;\n", "[a1|L|N][b||] from=/ to=/"},
      {"object line of only the prefix has an empty value", kSeries, "txobs\n", "[||] from=/ to=/"},
      {"report object line of only the prefix", kReport, "obj=\n", "[||] from=/ to=/"},
      {"later period line replaces earlier", kSeries,
       "txDateFrom=2024-01-01\ntxDateFrom=2024-02-02\n", " from=2024-02-02/ to=/"},
      {"extra fields ignored", kSeries, "txobs=a;b;U;d;e\n", "[a|b|U] from=/ to=/"},
      {"no final line end", kSeries, "txobs=z;Z;N", "[z|Z|N] from=/ to=/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Describe(ReadText(c.bytes, c.layout)), c.expected) << c.what;
  }
}

TEST(ReadSelectionLines, ObjectValueIsCutAt128Characters) {
  std::string name(140, 'n');
  for (const SelectionLayout* layout : {&kReport, &kSeries}) {
    std::string prefix = layout == &kSeries ? "txobs=" : "obj=";
    SelectionFileValues s = ReadText(prefix + name + "\n", *layout);
    ASSERT_EQ(s.objects.size(), 1u) << prefix;
    EXPECT_EQ(s.objects[0].name, std::string(128, 'n')) << prefix;
  }
}

TEST(ReadSelectionLines, LongLineIsReadOnAsNextLine) {
  // 254 characters per read: the rest of the line is read as a line of its own.
  std::string line = "txobs=" + std::string(248, 'a') + "txDateFrom=2024-05-05\n";
  SelectionFileValues s = ReadText(line, kSeries);
  ASSERT_EQ(s.objects.size(), 1u);
  EXPECT_EQ(s.period.dateFrom, "2024-05-05");

  SelectionFileValues report = ReadText("obj=" + std::string(300, 'N') + ";L;K\n", kReport);
  ASSERT_EQ(report.objects.size(), 1u);  // the rest "NNN...;L;K" is no object line
  EXPECT_EQ(report.objects[0].name, std::string(128, 'N'));
  EXPECT_EQ(report.objects[0].kind, '\0');
}

TEST(ReadSelectionLines, StopsAfterTheLastObjectLineTheLayoutAllows) {
  struct Case {
    const SelectionLayout& layout;
    const char* prefix;
    size_t limit;
  } cases[] = {{kSeries, "txobs=o", 24}, {kReport, "obj=o", 8}};
  for (const Case& c : cases) {
    int limit = static_cast<int>(c.limit);
    SelectionFileValues s =
        ReadText(ObjectLines(c.prefix, limit + 1) + "txDateFrom=2024-05-05\n", c.layout);
    ASSERT_EQ(s.objects.size(), c.limit) << c.prefix;
    EXPECT_EQ(s.objects[c.limit - 1].name, "o" + std::to_string(limit)) << c.prefix;
    EXPECT_EQ(s.period.dateFrom, "") << c.prefix;

    SelectionFileValues before =
        ReadText("txDateFrom=2024-05-05\n" + ObjectLines(c.prefix, limit), c.layout);
    EXPECT_EQ(before.objects.size(), c.limit) << c.prefix;
    EXPECT_EQ(before.period.dateFrom, "2024-05-05") << c.prefix;
  }
}

}  // namespace
