#include "common/textops.h"

#include <gtest/gtest.h>

#include <climits>

TEST(IntToString, PrintsLikePercentI) {
  EXPECT_EQ(IntToString(0), "0");
  EXPECT_EQ(IntToString(1709623800), "1709623800");
  EXPECT_EQ(IntToString(-5), "-5");
  EXPECT_EQ(IntToString(INT32_MIN), "-2147483648");
  EXPECT_EQ(IntToString(INT32_MAX), "2147483647");
}

TEST(UpperCase, AsciiAndTheThreeUmlauts) {
  // "oel ueber aepfel strasse" with Latin-1 umlauts and sharp s.
  EXPECT_EQ(UpperCase("\xF6l \xFC"
                      "ber \xE4pfel stra\xDF"
                      "e"),
            "\xD6L \xDC"
            "BER \xC4PFEL STRA\xDF"
            "E");
  for (int b = 0x80; b <= 0xFF; ++b) {
    if (b == 0xE4 || b == 0xF6 || b == 0xFC) continue;
    std::string one(1, static_cast<char>(b));
    EXPECT_EQ(UpperCase(one), one) << "byte " << b;
  }
  EXPECT_EQ(UpperCase("licht1_ABC-z"), "LICHT1_ABC-Z");
}

TEST(GetKeyValue, Cases) {
  struct Case {
    const char* key;
    const char* source;
    const char* expected;
  } cases[] = {
      {"SQL=", "SQL=abc&DFW=x", "abc"},     {"DFW=", "SQL=abc&DFW=x", "x"},
      {"obj=", "xobj=1&obj=2", "2"},        {"obj=", "xobj=1", ""},
      {"DFW=", "SQL=abc&DFW=", ""},         {"ACTION=", "SQL=abc&DFW=x", ""},
      {"obj=", "obj=a%3Bb&obj=c", "a%3Bb"}, {"SQL=", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetKeyValue(c.key, c.source, '&'), c.expected) << c.key << " in " << c.source;
  }
}

TEST(GetField, Cases) {
  struct Case {
    const char* source;
    int field;
    const char* expected;
  } cases[] = {
      {"a;b;c", 2, "b"}, {"a;b;c", 3, "c"}, {"a;b;c", 4, ""}, {"a;;c", 2, ""},
      {"a;b;", 3, ""},   {"abc", 1, "abc"}, {"abc", 2, ""},   {";b", 1, ""},
      {"a;b", 0, "a"},   {"a;b", -3, "a"},  {"", 1, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetField(c.source, c.field, ';'), c.expected) << c.source << " #" << c.field;
  }
}

TEST(ReplaceAll, Cases) {
  struct Case {
    const char* text;
    const char* search;
    const char* replacement;
    const char* expected;
  } cases[] = {
      {"a%20b%20c", "%20", " ", "a b c"},
      {"aaa", "a", "aa", "aaaaaa"},
      {"aaaa", "aa", "b", "bb"},
      {"abc", "", "x", "abc"},
      {"%2520", "%20", " ", "%2520"},
      {"%%2020", "%20", " ", "% 20"},
      {"where a where", "where", "where (x) and", "where (x) and a where (x) and"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    ReplaceAll(text, c.search, c.replacement);
    EXPECT_EQ(text, c.expected) << c.text;
  }
}

TEST(FindCharFrom, Cases) {
  EXPECT_EQ(FindCharFrom("ab/cd/ef", '/', 3), 5);
  EXPECT_EQ(FindCharFrom("ab/cd", '/', 3), -1);
  EXPECT_EQ(FindCharFrom("ab/cd", '/', 2), 2);
  EXPECT_EQ(FindCharFrom("ab/cd", '/', 5), -1);
  EXPECT_EQ(FindCharFrom("ab/cd", '/', 50), -1);
  EXPECT_EQ(FindCharFrom(nullptr, '/', 0), -1);
  EXPECT_EQ(FindCharFrom("127.0.0.1/Test.exe", '/', 9), 9);
}

TEST(SqlQuoted, DoublesEveryQuote) {
  EXPECT_EQ(SqlQuoted("LICHT1"), "LICHT1");
  EXPECT_EQ(SqlQuoted("A' OR '1'='1"), "A'' OR ''1''=''1");
  EXPECT_EQ(SqlQuoted("''"), "''''");
}

// The messages a step returns to main are never cut.
TEST(Formatted, AnyLength) {
  EXPECT_EQ(Formatted("%s,%d\n", "a", 7), "a,7\n");
  EXPECT_EQ(Formatted("%s", ""), "");
  std::string wide(100000, 'w');
  EXPECT_EQ(Formatted("<%s>", wide.c_str()), "<" + wide + ">");
}

TEST(FormDecoded, KeepsControlBytesOfNames) {
  EXPECT_EQ(FormDecoded("K%FCche+Licht"),
            "K\xFC"
            "che Licht");
  EXPECT_EQ(FormDecoded("a%09b"), "a\tb");
}
