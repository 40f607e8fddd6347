#include <gtest/gtest.h>

#include "XmlRpc.h"

using XmlRpc::XmlRpcValue;

namespace {

std::tm Time(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

}  // namespace

TEST(Value, ToTextOfEveryType) {
  const std::string bytes(
      "\x00\xFF"
      "ab",
      4);
  struct Case {
    XmlRpcValue value;
    const char* text;
  } cases[] = {
      {XmlRpcValue(), ""},
      {XmlRpcValue::Nil(), "nil"},
      {XmlRpcValue(true), "true"},
      {XmlRpcValue(false), "false"},
      {XmlRpcValue(0), "0"},
      {XmlRpcValue(-2147483647 - 1), "-2147483648"},
      {XmlRpcValue(0.1), "0.1"},
      {XmlRpcValue(-2.5e-7), "-2.5e-07"},
      {XmlRpcValue(21.0), "21"},
      {XmlRpcValue("a \"b\", c"), "\"a \"b\", c\""},
      {XmlRpcValue(std::string("\xE4"
                               "rger")),
       "\"\xE4rger\""},
      {XmlRpcValue(Time(2024, 3, 5, 14, 30, 0)), "20240305T14:30:00"},
      {XmlRpcValue(bytes.data(), bytes.size()), "<AP9hYg==>"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value.toText(), c.text);
}

TEST(Value, StructPrintsMembersOrderedByName) {
  XmlRpcValue device;
  device["TYPE"] = "KV-SW1-FM";
  device["VERSION"] = 12;
  device["CHILDREN"][0] = "KEQ0000001:0";
  device["CHILDREN"][1] = "KEQ0000001:1";
  device["ADDRESS"] = "KEQ0000001";
  device["PARENT_TYPE"] = "";
  XmlRpcValue list;
  list[0] = device;
  list[1] = XmlRpcValue(true);
  EXPECT_EQ(list.toText(),
            "{[ADDRESS:\"KEQ0000001\",CHILDREN:{\"KEQ0000001:0\",\"KEQ0000001:1\"},"
            "PARENT_TYPE:\"\",TYPE:\"KV-SW1-FM\",VERSION:12],true}");
  XmlRpcValue empty;
  empty.assertArray(0);
  EXPECT_EQ(empty.toText(), "{}");
  XmlRpcValue emptyStruct;
  emptyStruct.assertStruct();
  EXPECT_EQ(emptyStruct.toText(), "[]");
}

TEST(Value, AssertTypeOrInvalidTypesOnlyAnEmptyValue) {
  XmlRpcValue v;
  EXPECT_TRUE(v.assertTypeOrInvalid(XmlRpcValue::TypeBoolean));
  bool b = true;
  EXPECT_TRUE(v.getBool(b));
  EXPECT_FALSE(b);
  EXPECT_TRUE(v.assertTypeOrInvalid(XmlRpcValue::TypeBoolean));
  EXPECT_FALSE(v.assertTypeOrInvalid(XmlRpcValue::TypeInt));
  EXPECT_EQ(v.getType(), XmlRpcValue::TypeBoolean);

  XmlRpcValue i;
  EXPECT_TRUE(i.assertTypeOrInvalid(XmlRpcValue::TypeInt));
  int n = 7;
  EXPECT_TRUE(i.getInt(n));
  EXPECT_EQ(n, 0);
  EXPECT_FALSE(i.getBool(b));
  std::string s = "kept";
  EXPECT_FALSE(i.getString(s));
  EXPECT_EQ(s, "kept");
  double d = 0;
  EXPECT_TRUE(XmlRpcValue(3).getDouble(d));  // an int reads as a double
  EXPECT_EQ(d, 3.0);
}

TEST(Value, ArraysGrowAndReadSafely) {
  XmlRpcValue params;
  EXPECT_TRUE(params.assertArray(3));
  EXPECT_EQ(params.size(), 3u);
  params[0] = XmlRpcValue("KEQ0000001:1");
  params[1] = XmlRpcValue("PRESS");
  EXPECT_TRUE(params[2].assertTypeOrInvalid(XmlRpcValue::TypeInt));
  params[2] = 1;
  EXPECT_TRUE(params.assertArray(2));  // never shrinks
  EXPECT_EQ(params.size(), 3u);
  EXPECT_EQ(params.toText(), "{\"KEQ0000001:1\",\"PRESS\",1}");

  const XmlRpcValue& constant = params;
  EXPECT_FALSE(constant[7].valid());
  EXPECT_FALSE(constant["ADDRESS"].valid());
  EXPECT_EQ(params.size(), 3u);

  XmlRpcValue text("abc");
  EXPECT_FALSE(text.assertArray(1));
  EXPECT_EQ(text.toText(), "\"abc\"");
  text[1] = 5;  // writing an element replaces the string by an array
  EXPECT_EQ(text.toText(), "{,5}");
}

TEST(Value, CopyIsDeepAndInvalidateEmpties) {
  XmlRpcValue a;
  a["list"][0] = "x";
  XmlRpcValue b;
  b = a;
  b["list"][0] = "y";
  EXPECT_EQ(a.toText(), "[list:{\"x\"}]");
  EXPECT_EQ(b.toText(), "[list:{\"y\"}]");
  EXPECT_NE(a, b);
  EXPECT_TRUE(a.hasMember("list"));
  EXPECT_FALSE(a.hasMember("LIST"));
  a.invalidate();
  EXPECT_FALSE(a.valid());
  EXPECT_EQ(a.size(), 0u);
  EXPECT_EQ(a.toText(), "");

  // A value takes one of its own elements; a moved value is left empty.
  b = b["list"];
  EXPECT_EQ(b.toText(), "{\"y\"}");
  b = b[0];
  EXPECT_EQ(b.toText(), "\"y\"");
  XmlRpcValue c(std::move(b));
  EXPECT_EQ(c.toText(), "\"y\"");
  EXPECT_FALSE(b.valid());
  c = std::move(c);
  EXPECT_EQ(c.toText(), "\"y\"");
  // The type and a union as wide as a double: 16 bytes on 32 and 64 bits.
  EXPECT_EQ(sizeof(XmlRpcValue), 2 * sizeof(double));
}

TEST(Value, TypedReadsOfDateTimeAndBinary) {
  XmlRpcValue t(Time(1999, 12, 31, 23, 59, 58));
  std::tm out{};
  ASSERT_TRUE(t.getDateTime(out));
  EXPECT_EQ(out.tm_year, 99);
  EXPECT_EQ(out.tm_sec, 58);
  XmlRpcValue bin("\x01\x02", 2);
  std::string bytes;
  ASSERT_TRUE(bin.getBinary(bytes));
  EXPECT_EQ(bytes, std::string("\x01\x02"));
  EXPECT_FALSE(bin.getString(bytes));
}
