#include "histquery/request.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A stream holding `bytes`, as the web server hands the body over.
FILE* StreamOf(const std::string& bytes) {
  FILE* in = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), in);
  std::rewind(in);
  return in;
}

std::string PostBody(const char* contentLength, const std::string& bytes) {
  if (contentLength)
    setenv("CONTENT_LENGTH", contentLength, 1);
  else
    unsetenv("CONTENT_LENGTH");
  FILE* in = StreamOf(bytes);
  std::string body = ReadPostBody(in);
  std::fclose(in);
  return body;
}

TEST(ReadRequest, TakesTheQueryStringOfAGetOnly) {
  struct Case {
    const char* method;
    const char* query;
    const char* expected;
  } cases[] = {
      {"GET", "SQL=abc&DFW=x", "SQL=abc&DFW=x"},
      {"GET", nullptr, ""},
      {"HEAD", "SQL=abc", ""},
      {"get", "SQL=abc", ""},
      {nullptr, "SQL=abc", ""},
  };
  for (const Case& c : cases) {
    if (c.method)
      setenv("REQUEST_METHOD", c.method, 1);
    else
      unsetenv("REQUEST_METHOD");
    if (c.query)
      setenv("QUERY_STRING", c.query, 1);
    else
      unsetenv("QUERY_STRING");
    EXPECT_EQ(ReadRequest(), c.expected) << (c.method ? c.method : "(unset)");
  }
}

TEST(ReadPostBody, ReadsExactlyTheAnnouncedBytes) {
  EXPECT_EQ(PostBody("5", "obj=AB"), "obj=A");
  EXPECT_EQ(PostBody("6", "obj=AB"), "obj=AB");
  EXPECT_EQ(PostBody("6xyz", "obj=AB"), "obj=AB");  // leading number as atoi reads it
  EXPECT_EQ(PostBody(" 6", "obj=AB"), "obj=AB");
}

TEST(ReadPostBody, UnusableLengthsGiveAnEmptyRequest) {
  for (const char* length : {"abc", "0", "-5", "", "7", "262145", "99999999999999999999"}) {
    EXPECT_EQ(PostBody(length, "obj=AB"), "") << length;
  }
  EXPECT_EQ(PostBody(nullptr, "obj=AB"), "");
}

TEST(ReadPostBody, TakesTheBodyUpToItsFirstNulByte) {
  EXPECT_EQ(PostBody("6", std::string("ab\0cde", 6)), "ab");
}

TEST(ReadPostBody, AcceptsTheLargestAllowedBody) {
  std::string body(kMaxPostBody, 'a');
  EXPECT_EQ(PostBody(std::to_string(kMaxPostBody).c_str(), body), body);
}

// Browser form encoding in one pass; it replaced a fixed list of eleven codes
// that left "%25" (so every "like 'X%'"), "%3B", "%26", umlauts and the like
// undecoded.
TEST(DecodeSqlText, DecodesTheFormEncodingInOnePass) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"select%20ObjName%20from%20HISTORY%20where%20ObjName%3D%27A%27",
       "select ObjName from HISTORY where ObjName='A'"},
      {"a+b%2Bc", "a b+c"},
      {"%3d%3D", "=="},
      {"%2520", "%20"},
      {"like+%27LICHT%25%27", "like 'LICHT%'"},
      {"%%2020", "% 20"},
      {"%22%3E%3C%2C%28%29%21", "\"><,()!"},
      {"%3B%26%2F%3A", ";&/:"},
      {"K%FCche+%fc",
       "K\xFC"
       "che \xFC"},
      {"a%0Ab%0d%0Ac%09d%00e%7F", "a b  c d e "},
      {"100%", "100%"},
      {"%4", "%4"},
      {"%G1%1G", "%G1%1G"},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    DecodeSqlText(text);
    EXPECT_EQ(text, c.out) << c.in;
  }
}

// The request read once, as GetKeyValue would read each key: its first item
// wins; an item holding "obj=" anywhere is an object.
TEST(ParseReportRequest, ValuesOfTheFirstItems) {
  struct Case {
    const char* text;
    ReportMode mode;
    const char* dateFrom;
    const char* selectionFile;
    std::vector<std::string> objects;
  } cases[] = {
      {"txDateFrom=2024-03-05&txDateFrom=2025-01-01&DFW=a%3Bb",
       ReportMode::Objects,
       "2024-03-05",
       "a%3Bb",
       {}},
      {"xtxDateFrom=1&txDateFrom=2024%3B03&ACTION=DEL&ACTION=x",
       ReportMode::Deletion,
       "2024;03",
       "",
       {}},
      {"obj=A%3B1&xobj=B&txDateFrom=obj=C&SQL=obj=",
       ReportMode::Objects,
       "obj=C",
       "",
       {"A;1", "B", "C", ""}},
      {"SQL=select%201&ACTION=DEL&obj=A", ReportMode::Sql, "", "", {"A"}},
      {"SQL=select%", ReportMode::Objects, "", "", {}},  // 7 characters keep object mode
      {"ACTION=del&ACTION=DEL", ReportMode::Objects, "", "", {}},
      {"ACTION=DELETE", ReportMode::Objects, "", "", {}},
      {"obj=1&obj=2&obj=3&obj=4&obj=5&obj=6&obj=7&obj=8&obj=9",
       ReportMode::Objects,
       "",
       "",
       {"1", "2", "3", "4", "5", "6", "7", "8"}},
      {"&&DFW=&", ReportMode::Objects, "", "", {}},
  };
  for (const Case& c : cases) {
    ReportRequest request = ParseReportRequest(c.text);
    EXPECT_EQ(request.text, c.text);
    EXPECT_EQ(request.mode, c.mode) << c.text;
    EXPECT_EQ(request.period.dateFrom, c.dateFrom) << c.text;
    EXPECT_EQ(request.selectionFile, c.selectionFile) << c.text;
    EXPECT_EQ(request.objects, c.objects) << c.text;
  }
}

TEST(ParseReportRequest, ViewAndChartWidth) {
  struct Case {
    const char* text;
    View view;
    int width;
    bool bare;
  } cases[] = {
      {"txDateFrom=2024-03-05", View::Report, 1000, false},
      {"VIEW=JSON&WIDTH=640", View::Json, 640, true},
      {"obj=A;B;N&VIEW=CHART&WIDTH=0", View::Chart, 0, false},
      {"VIEW=CSV&WIDTH=50&", View::Csv, 100, true},
      {"VIEW=json&WIDTH=99999", View::Report, 4000, false},
      {"VIEW=JSON&WIDTH=12px&DFW=", View::Json, 1000, false},
      {"XVIEW=JSON&WIDTH=-5", View::Report, 1000, false},
      {"VIEW=CSV&VIEW=JSON", View::Csv, 1000, true},
      {"WIDTH=0000000100&VIEW=JSON", View::Json, 1000, true},
  };
  for (const Case& c : cases) {
    ReportRequest request = ParseReportRequest(c.text);
    EXPECT_EQ(request.view, c.view) << c.text;
    EXPECT_EQ(request.chartWidth, c.width) << c.text;
    EXPECT_EQ(request.bareView, c.bare) << c.text;
  }
}

}  // namespace
