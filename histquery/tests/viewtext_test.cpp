#include "histquery/viewtext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "histquery/viewwriter.h"

namespace {

// What `write` writes to a stream.
std::string Written(const std::function<void(FILE*)>& write) {
  char* data = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&data, &size);
  write(out);
  std::fclose(out);
  std::string text(data, size);
  std::free(data);
  return text;
}

TEST(ValueNumber, ReadsDecimalNumbersOnly) {
  struct Case {
    const char* text;
    bool number;
    double value;
  };
  const Case cases[] = {
      {"21.50", true, 21.5}, {" -3.5\t", true, -3.5}, {"+3", true, 3},           {".5", true, 0.5},
      {"5.", true, 5},       {"1e3", true, 1000},     {"-1.5E-2", true, -0.015}, {"0", true, 0},
      {"", false, 0},        {"  ", false, 0},        {"1,5", false, 0},         {"0x10", false, 0},
      {"inf", false, 0},     {"-nan", false, 0},      {"1e999", false, 0},       {"1e", false, 0},
      {"+-1", false, 0},     {"1 2", false, 0},       {"12abc", false, 0},       {".", false, 0},
  };
  for (const Case& c : cases) {
    double value = -99;
    EXPECT_EQ(ReadValueNumber(c.text, std::strlen(c.text), value), c.number) << c.text;
    if (c.number) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
  double value;
  EXPECT_FALSE(ReadValueNumber(nullptr, 0, value));
  // The length counts, not a terminator: "21" of "215".
  EXPECT_TRUE(ReadValueNumber("215", 2, value));
  EXPECT_EQ(value, 21);
}

// The bytes each encoder writes, one text per row.
TEST(ViewText, EncodersWriteTheseBytes) {
  struct Case {
    const char* what;
    void (*write)(FILE*, const char*, size_t);
    std::string text;
    std::string expected;
  };
  const std::string latin9 = "\xA4\xA6\xA8\xB4\xB8\xBC\xBD\xBE";
  const Case cases[] = {
      {"umlauts", WriteUtf8,
       "K\xFC"
       "che \xC4\xD6\xDC\xDF",
       "K\xC3\xBC"
       "che \xC3\x84\xC3\x96\xC3\x9C\xC3\x9F"},
      {"where -15 differs from Latin-1", WriteUtf8, latin9,
       "\xE2\x82\xAC\xC5\xA0\xC5\xA1\xC5\xBD\xC5\xBE\xC5\x92\xC5\x93\xC5\xB8"},
      {"C1 bytes and the rest of Latin-1", WriteUtf8, "\x80\xA3\xFF", "\xC2\x80\xC2\xA3\xC3\xBF"},
      {"json: quote, backslash, controls", WriteJsonString,
       std::string("a\"b\\c\n\r\t\b\f\x01\x1F\x7F/", 15),
       "\"a\\\"b\\\\c\\n\\r\\t\\b\\f\\u0001\\u001f\x7F/\\u0000\""},
      {"json: euro", WriteJsonString, "5 \xA4", "\"5 \xE2\x82\xAC\""},
      {"json: empty", WriteJsonString, "", "\"\""},
      {"csv: plain", WriteCsvText, "Sensor", "Sensor"},
      {"csv: semicolon", WriteCsvText, "a;b", "\"a;b\""},
      {"csv: comma, the other separator", WriteCsvText, "a,=1+1", "\"a,=1+1\""},
      {"csv: formula after blanks", WriteCsvText, "  =1+1", "'  =1+1"},
      {"csv: quotes doubled", WriteCsvText, "sagt \"hallo\"", "\"sagt \"\"hallo\"\"\""},
      {"csv: line break", WriteCsvText, "Zeile 1\r\nZeile 2", "\"Zeile 1\r\nZeile 2\""},
      {"csv: umlaut", WriteCsvText, "T\xFCr", "T\xC3\xBCr"},
      {"csv: formula", WriteCsvText, "=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
      {"csv: at sign, dash", WriteCsvText, "@SUMME", "'@SUMME"},
      {"csv: a sign before a number is no formula", WriteCsvText, "-3.5", "-3.5"},
      {"csv value: decimal comma, digits kept", WriteCsvValue, "21.50", "21,50"},
      {"csv value: negative", WriteCsvValue, " -3.5 ", "-3,5"},
      {"csv value: exponent", WriteCsvValue, "1.5e3", "1,5e3"},
      {"csv value: integer", WriteCsvValue, "1", "1"},
      {"csv value: no number", WriteCsvValue, "offen", "offen"},
      {"csv value: no number, quoted", WriteCsvValue, "1.5;2", "\"1.5;2\""},
      {"csv value: dash alone", WriteCsvValue, "-", "'-"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Written([&](FILE* out) { c.write(out, c.text.data(), c.text.size()); }), c.expected)
        << c.what;
  }
}

TEST(ViewText, NumbersAndTimes) {
  struct Case {
    double value;
    const char* expected;
  };
  const Case numbers[] = {
      {21.5, "21.5"},       {-0.25, "-0.25"},   {0.1 + 0.2, "0.30000000000000004"},
      {1e21, "1e+21"},      {3, "3"},           {-0.0, "-0"},
      {kNullValue, "null"}, {INFINITY, "null"},
  };
  for (const Case& c : numbers)
    EXPECT_EQ(Written([&](FILE* out) { WriteJsonNumber(out, c.value); }), c.expected);
  EXPECT_EQ(Written([](FILE* out) { WriteJsonTime(out, -2147483647 - 1); }), "-2147483648");
  EXPECT_EQ(Written([](FILE* out) { WriteCsvTime(out, 1709623800); }), "05.03.2024 07:30:00");
}

TEST(ViewWriter, ChartDataDocument) {
  std::vector<ChartObject> objects;
  objects.push_back({"TEMP_AUSSEN",
                     "Temperatur au\xDF"
                     "en \"Nord\"",
                     'N', ChartSeries(0, 99, 100)});
  objects.push_back({"LICHT",
                     "Licht K\xFC"
                     "che",
                     'C', ChartSeries(0, 99, 100)});
  objects.push_back({"LEER", "", '\0', ChartSeries(0, 99, 100)});
  objects[0].series.Add(10, "-3.5", 4);
  objects[0].series.Add(40, "n/a", 3);
  objects[0].series.Add(60, "4.25", 4);
  objects[0].series.Add(70, "4.25", 4, "warm", 4);
  objects[1].series.Add(20, "1", 1, "an", 2);
  objects[1].series.Add(30, "0", 1, "aus \xA4", 5);
  EXPECT_EQ(Written([&](FILE* out) { WriteChartJson(out, 0, 99, 100, objects); }),
            "{\"from\":0,\"to\":99,\"width\":100,\"objects\":["
            "{\"name\":\"TEMP_AUSSEN\",\"label\":\"Temperatur au\xC3\x9F"
            "en \\\"Nord\\\"\","
            "\"kind\":\"N\",\"points\":[[10,-3.5],[40,null],[60,4.25],[70,4.25]],"
            "\"stats\":{\"count\":4,\"first\":10,\"last\":70,\"min\":-3.5,\"minTime\":10,"
            "\"max\":4.25,\"maxTime\":60,\"mean\":-1.5625,\"lastValue\":4.25}},"
            "{\"name\":\"LICHT\",\"label\":\"Licht K\xC3\xBC"
            "che\",\"kind\":\"C\","
            "\"points\":[[20,1],[30,0]],\"stats\":{\"count\":2,\"first\":20,\"last\":30,"
            "\"min\":0,\"minTime\":30,\"max\":1,\"maxTime\":20,\"mean\":1,\"lastValue\":0},"
            "\"texts\":{\"0\":\"aus \xE2\x82\xAC\",\"1\":\"an\"}},"
            "{\"name\":\"LEER\",\"label\":\"\",\"kind\":\"\",\"points\":[],"
            "\"stats\":{\"count\":0,\"first\":null,\"last\":null,\"min\":null,\"minTime\":null,"
            "\"max\":null,\"maxTime\":null,\"mean\":null,\"lastValue\":null}}]}\n");

  std::vector<ChartObject> raw;
  raw.push_back({"ZAEHLER", "Z\xE4hler", 'U', ChartSeries(0, 99, 0, 1)});
  raw[0].series.Add(5, "12000.5", 7);
  raw[0].series.Add(6, "12000.75", 8);
  EXPECT_EQ(Written([&](FILE* out) { WriteChartJson(out, 0, 99, 0, raw); }),
            "{\"from\":0,\"to\":99,\"width\":0,\"objects\":["
            "{\"name\":\"ZAEHLER\",\"label\":\"Z\xC3\xA4hler\",\"kind\":\"U\","
            "\"points\":[[5,12000.5]],\"cut\":true,"
            "\"stats\":{\"count\":2,\"first\":5,\"last\":6,\"min\":12000.5,\"minTime\":5,"
            "\"max\":12000.75,\"maxTime\":6,\"mean\":12000.5,\"lastValue\":12000.75}}]}\n");
  EXPECT_EQ(Written([](FILE* out) { WriteJsonError(out, "Es wurde kein Zeitraum ausgew\xE4hlt"); }),
            "{\"error\":\"Es wurde kein Zeitraum ausgew\xC3\xA4hlt\"}\n");
}

TEST(ViewWriter, DownloadBytes) {
  EXPECT_EQ(Written([](FILE* out) {
              PrintCsvHead(out, 1709593200, 1709679599);
              WriteCsvRow(out, 1709623800,
                          "K\xDC"
                          "CHE",
                          "Licht K\xFC"
                          "che",
                          "1", "an", "Taster");
              WriteCsvRow(out, 1709623801, "TEMP_AUSSEN",
                          "Au\xDF"
                          "en",
                          "-3.5", "-3.5", "Sensor");
              WriteCsvRow(out, 1709623802, "NOTIZ", "Notiz", "x;y", "er sagt \"gut\"", nullptr);
              WriteCsvRow(out, 1709623803, "NOTIZ", "Notiz", "Zeile 1\nZeile 2", "", "CCU");
            }),
            "Content-Type: text/csv; charset=utf-8\n"
            "Content-Disposition: attachment; "
            "filename=\"Historie_2024-03-04_230000_2024-03-05_225959.csv\"\n"
            "X-Content-Type-Options: nosniff\n"
            "\n"
            "\xEF\xBB\xBFZeit;Objekt;Bezeichnung;Wert;Werttext;Quelle\r\n"
            "05.03.2024 07:30:00;K\xC3\x9C"
            "CHE;Licht K\xC3\xBC"
            "che;1;an;Taster\r\n"
            "05.03.2024 07:30:01;TEMP_AUSSEN;Au\xC3\x9F"
            "en;-3,5;-3,5;Sensor\r\n"
            "05.03.2024 07:30:02;NOTIZ;Notiz;\"x;y\";\"er sagt \"\"gut\"\"\";\r\n"
            "05.03.2024 07:30:03;NOTIZ;Notiz;\"Zeile 1\nZeile 2\";;CCU\r\n");
}

TEST(ViewWriter, ChartPage) {
  std::string query = "txDateFrom=2024-03-05&txTimeFrom=00%3A00%3A00&obj=A;K%FCche;N";
  std::string page = Written([&](FILE* out) { PrintChartPage(out, query); });
  EXPECT_EQ(page.rfind("Content-type: text/html; charset=iso-8859-15\nX-Frame-Options: SAMEORIGIN\n"
                       "Content-Security-Policy: frame-ancestors 'self'\n\n<!DOCTYPE HTML>\n",
                       0),
            0u);
  EXPECT_NE(page.find("<main id='histchart' data-query='" + query + "'>"), std::string::npos);
  EXPECT_NE(page.find("href='HistQuery.ksq?" + query + "'>Liste</a>"), std::string::npos);
  EXPECT_NE(page.find("href='HistQuery.ksq?VIEW=CSV&amp;" + query + "'>"), std::string::npos);
}

}  // namespace
