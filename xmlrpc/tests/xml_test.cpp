#include <gtest/gtest.h>

#include <algorithm>

#include "XmlRpc.h"
#include "XmlRpcInternal.h"

using XmlRpc::DecodeResponse;
using XmlRpc::EncodeCall;
using XmlRpc::XmlRpcValue;

namespace {

const char kHead[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<methodCall><methodName>";

std::string Reply(const std::string& value) {
  return "<?xml version=\"1.0\"?>\n<methodResponse><params><param>" + value +
         "</param></params></methodResponse>\n";
}

// The text of the decoded value, "fault:" + text for a fault, or "error".
std::string Decoded(const std::string& xml) {
  XmlRpc::Outcome<XmlRpc::Response> response = DecodeResponse(xml);
  if (!response.ok()) {
    EXPECT_FALSE(response.error().empty());
    return "error";
  }
  return (response.value().isFault ? "fault:" : "") + response.value().value.toText();
}

// The text of a reply read in pieces of `piece` bytes, as the client reads
// what arrives, in the form Decoded gives (a failure shows its reason).
// With `announced` > 0 the reply is gathered for one final call, as the
// client does when it knows the length (announced too short: the rest is read
// as it comes).
std::string DecodedInPieces(const std::string& xml, std::size_t piece, std::size_t announced = 0) {
  XmlRpc::ReplyReader reader;
  if (announced > 0) reader.expect(announced);
  for (std::size_t at = 0; at < xml.size(); at += piece) {
    reader.feed(xml.data() + at, std::min(piece, xml.size() - at));
  }
  XmlRpc::Outcome<XmlRpc::Response> response = reader.finish();
  if (!response.ok()) return "error: " + response.error();
  return (response.value().isFault ? "fault:" : "") + response.value().value.toText();
}

std::string ReasonOf(const std::string& xml) {
  XmlRpc::Outcome<XmlRpc::Response> response = DecodeResponse(xml);
  EXPECT_FALSE(response.ok()) << xml;
  return response.ok() ? "accepted" : "error: " + response.error();
}

}  // namespace

TEST(EncodeCall, EveryTypeAndEscaping) {
  std::tm t{};
  t.tm_year = 124;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 4;
  t.tm_min = 3;
  t.tm_sec = 2;
  XmlRpcValue params;
  params[0] = true;
  params[1] = -7;
  params[2] = -2.5e-7;
  params[3] = "a<b & c>d\r\n\t\xE4";
  params[4] = XmlRpcValue(t);
  params[5] = XmlRpcValue("\xFB\xFF", 2);
  params[6] = XmlRpcValue::Nil();
  params[7]["b&"] = 1;
  params[7]["a"][0] = false;
  XmlRpc::Outcome<std::string> call = EncodeCall("listDevices", params);
  ASSERT_TRUE(call.ok()) << call.error();
  EXPECT_EQ(
      call.value(),
      std::string(kHead) +
          "listDevices</methodName>\n<params>"
          "<param><value><boolean>1</boolean></value></param>"
          "<param><value><int>-7</int></value></param>"
          "<param><value><double>-0.00000025</double></value></param>"
          "<param><value><string>a&lt;b &amp; c&gt;d&#13;\n\t\xE4</string></value></param>"
          "<param><value><dateTime.iso8601>20240305T04:03:02</dateTime.iso8601></value></param>"
          "<param><value><base64>+/8=</base64></value></param>"
          "<param><value><nil/></value></param>"
          "<param><value><struct>"
          "<member><name>a</name><value><array><data><value><boolean>0</boolean></value>"
          "</data></array></value></member>"
          "<member><name>b&amp;</name><value><int>1</int></value></member>"
          "</struct></value></param>"
          "</params></methodCall>\n");
}

TEST(EncodeCall, ParameterShapes) {
  XmlRpc::Outcome<std::string> none = EncodeCall("m", XmlRpcValue());
  ASSERT_TRUE(none.ok());
  EXPECT_EQ(none.value(), std::string(kHead) + "m</methodName>\n<params></params></methodCall>\n");
  XmlRpc::Outcome<std::string> one = EncodeCall("m", XmlRpcValue("x"));
  ASSERT_TRUE(one.ok());
  EXPECT_EQ(one.value(),
            std::string(kHead) +
                "m</methodName>\n<params><param><value><string>x</string></value></param>"
                "</params></methodCall>\n");
}

TEST(EncodeCall, RefusesWhatXmlCannotCarry) {
  XmlRpcValue withHole;
  withHole.assertArray(2);
  withHole[1] = 1;
  XmlRpcValue badName;
  badName["a\x02"] = 1;
  struct Case {
    XmlRpcValue params;
    const char* method;
    const char* error;
  } cases[] = {
      {XmlRpcValue(std::string("a\x01")), "m", "a string parameter holds a control character"},
      {XmlRpcValue(1.0 / 0.0), "m", "a double parameter is not a finite number"},
      {XmlRpcValue(), "", "unusable method name"},
      {withHole, "m", "a parameter has no value"},
      {badName, "m", "a member name holds a control character"},
  };
  for (const Case& c : cases) {
    XmlRpc::Outcome<std::string> call = EncodeCall(c.method, c.params);
    ASSERT_FALSE(call.ok()) << c.params.toText();
    EXPECT_EQ(call.error(), c.error);
  }
}

TEST(DecodeResponse, EveryType) {
  struct Case {
    const char* value;
    const char* text;
  } cases[] = {
      {"<value><int>42</int></value>", "42"},
      {"<value><i4> -2147483648 </i4></value>", "-2147483648"},
      {"<value><int>+5</int></value>", "5"},
      {"<value><i8>-7</i8></value>", "-7"},
      {"<value><ex:i8>2147483647</ex:i8></value>", "2147483647"},
      {"<value><i8>5000000000</i8></value>", "5e+09"},
      {"<value><i8>-9223372036854775808</i8></value>", "-9.223372036854776e+18"},
      {"<value><boolean>1</boolean></value>", "true"},
      {"<value><boolean>0</boolean></value>", "false"},
      {"<value><string>a &amp; &lt;b&gt; &#228;</string></value>", "\"a & <b> \xE4\""},
      {"<value><string></string></value>", "\"\""},
      {"<value><string/></value>", "\"\""},
      {"<value>untagged  text</value>", "\"untagged  text\""},
      {"<value></value>", "\"\""},
      {"<value><string>\xC3\xA4\xE2\x82\xAC</string></value>", "\"\xE4?\""},
      {"<value><double>-1.5e3</double></value>", "-1.5e+03"},
      {"<value><dateTime.iso8601>20240305T14:30:00</dateTime.iso8601></value>",
       "20240305T14:30:00"},
      {"<value><dateTime.iso8601>2024-03-05T14:30:00</dateTime.iso8601></value>",
       "20240305T14:30:00"},
      {"<value><dateTime.iso8601>2024-03-05T14:30:00+01:00</dateTime.iso8601></value>",
       "20240305T14:30:00"},
      {"<value><dateTime.iso8601> 20240305T14:30:00Z </dateTime.iso8601></value>",
       "20240305T14:30:00"},
      {"<value><dateTime.iso8601>2024-03-05T14:30:00.250-0130</dateTime.iso8601></value>",
       "20240305T14:30:00"},
      {"<value><dateTime.iso8601>20240305T143000,5+05</dateTime.iso8601></value>",
       "20240305T14:30:00"},
      {"<value><base64>AP9h\nYg==</base64></value>", "<AP9hYg==>"},
      {"<value><base64></base64></value>", "<>"},
      {"<value><nil/></value>", "nil"},
      {"<value><ex:nil/></value>", "nil"},
      {"<value><array><data/></array></value>", "{}"},
      {"<value><array><data><value><array><data><value>1</value></data></array></value>"
       "<value><array><data/></array></value><value>2</value></data></array></value>",
       "{{\"1\"},{},\"2\"}"},
      {"<value>\n <array>\n  <data>\n   <value><int>1</int></value>\n   <value>x</value>\n"
       "  </data>\n </array>\n</value>",
       "{1,\"x\"}"},
      {"<value><struct><member><value><int>2</int></value><name>TYPE</name></member>"
       "<member><name>ADDRESS</name><value><string>KEQ1</string></value></member>"
       "<member><name>ADDRESS</name><value>KEQ2</value></member></struct></value>",
       "[ADDRESS:\"KEQ2\",TYPE:2]"},
      {"<value><struct></struct></value>", "[]"},
  };
  for (const Case& c : cases) EXPECT_EQ(Decoded(Reply(c.value)), c.text) << c.value;
}

TEST(DecodeResponse, Faults) {
  EXPECT_EQ(Decoded("<?xml version=\"1.0\"?><methodResponse><fault><value><struct>"
                    "<member><name>faultCode</name><value><int>-2</int></value></member>"
                    "<member><name>faultString</name><value><string>Unknown instance"
                    "</string></value></member></struct></value></fault></methodResponse>"),
            "fault:[faultCode:-2,faultString:\"Unknown instance\"]");
  EXPECT_EQ(Decoded("<methodResponse><fault><value>odd</value></fault></methodResponse>"),
            "fault:\"odd\"");
  EXPECT_EQ(Decoded("<methodResponse><fault></fault></methodResponse>"), "error");
}

TEST(DecodeResponse, MalformedRepliesFail) {
  struct Case {
    std::string xml;
    const char* reason;
  } cases[] = {
      {"", "reply is not well-formed XML: no element found at line 1"},
      {"not xml at all", "reply is not well-formed XML: syntax error at line 1"},
      {"<methodResponse><params><param><value><int>1</int></value></param></params>",
       "reply is not well-formed XML: no element found at line 1"},
      {"<methodResponse><params><param><value><int>1</int></value></param></params>"
       "</methodResponse><trailing/>",
       "reply is not well-formed XML: junk after document element at line 1"},
      {"<methodCall><params><param><value>1</value></param></params></methodCall>",
       "reply is no methodResponse"},
      {"<methodResponse></methodResponse>", "<methodResponse> without one <params> or <fault>"},
      {"<methodResponse><params></params></methodResponse>",
       "<params> without exactly one <param>"},
      {"<methodResponse><params><param></param></params></methodResponse>",
       "<param> without exactly one <value>"},
      {"<methodResponse><params><param><value>1</value><value>2</value></param></params>"
       "</methodResponse>",
       "<param> without exactly one <value>"},
      {"<methodResponse><params><param><value>1</value></param></params>"
       "<fault><value>1</value></fault></methodResponse>",
       "<methodResponse> without one <params> or <fault>"},
      {"<methodResponse>junk<params><param><value>1</value></param></params></methodResponse>",
       "text inside <methodResponse>"},
      {"<!DOCTYPE x [<!ENTITY a \"aaaa\">]><methodResponse><params><param><value>&a;</value>"
       "</param></params></methodResponse>",
       "reply declares a document type"},
      {Reply("<value><int>12x</int></value>"), "bad int \"12x\""},
      {Reply("<value><int></int></value>"), "bad int \"\""},
      {Reply("<value><int>2147483648</int></value>"), "bad int \"2147483648\""},
      {Reply("<value><int>" + std::string(100, '7') + "</int></value>"),
       "bad int \"7777777777777777777777777777777777777777\"..."},
      {Reply("<value><i4>1.5</i4></value>"), "bad i4 \"1.5\""},
      {Reply("<value><boolean>true</boolean></value>"), "bad boolean \"true\""},
      {Reply("<value><boolean>2</boolean></value>"), "bad boolean \"2\""},
      {Reply("<value><double>one</double></value>"), "bad double \"one\""},
      {Reply("<value><base64>A$==</base64></value>"), "bad base64 \"A$==\""},
      {Reply("<value><base64>AAA</base64></value>"), "bad base64 \"AAA\""},
      {Reply("<value><i8>9223372036854775808</i8></value>"), "bad i8 \"9223372036854775808\""},
      {Reply("<value><i8>1.0</i8></value>"), "bad i8 \"1.0\""},
      {Reply("<value><ex:nil> x </ex:nil></value>"), "bad ex:nil \"x\""},
      {Reply("<value><i16>1</i16></value>"), "unknown value type <i16>"},
      {Reply("<value><int>1</int><int>2</int></value>"), "<value> with more than one type"},
      {Reply("<value>text<int>1</int></value>"), "text inside <value>"},
      {Reply("<value><int>1</int> text </value>"), "text inside <value>"},
      {Reply("<value><string><b>x</b></string></value>"), "<b> inside <string>"},
      {Reply("<value><array><value>1</value></array></value>"), "<value> inside <array>"},
      {Reply("<value><array><data/><data/></array></value>"), "<array> without one <data>"},
      {Reply("<value><array><data><int>1</int></data></array></value>"), "<int> inside <data>"},
      {Reply("<value><struct><value>1</value></struct></value>"), "<value> inside <struct>"},
      {Reply("<value><struct><member><name>a</name></member></struct></value>"),
       "<member> without one <name> and one <value>"},
      {Reply("<value><struct><member><name>a</name><value>1</value><value>2</value></member>"
             "</struct></value>"),
       "<member> without one <name> and one <value>"},
      {Reply("<value><struct><member><name>a<b/></name><value>1</value></member></struct>"
             "</value>"),
       "<b> inside <name>"},
      {Reply("<int>1</int>"), "<int> inside <param>"},
      // With several faults, the first one met.
      {Reply("<value><int>x</int><int>2</int></value>"), "bad int \"x\""},
      {Reply("<value><struct><member><value><nil>x</nil></value><name>a<b/></name></member>"
             "</struct></value>"),
       "bad nil \"x\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReasonOf(c.xml), std::string("error: ") + c.reason) << c.xml;
    for (std::size_t piece : {1, 5}) {
      EXPECT_EQ(DecodedInPieces(c.xml, piece), std::string("error: ") + c.reason) << c.xml;
    }
  }

  // Dates and times in forms that are not ISO 8601.
  const char* times[] = {
      "2024-13-05T14:30:00",   "20240305 14:30:00",     "2024-0305T14:30:00",
      "20240305T14:3000",      "2024-03-05T14:30:00+1", "2024-03-05T14:30:00+24:00",
      "2024-03-05T14:30:00.Z", "2024-03-05T14:30:00Zx", "2024-03-05",
  };
  for (const char* time : times) {
    EXPECT_EQ(ReasonOf(Reply(std::string("<value><dateTime.iso8601> ") + time +
                             " </dateTime.iso8601></value>")),
              std::string("error: bad dateTime.iso8601 \"") + time + "\"");
  }
}

TEST(DecodeResponse, NestingIsBounded) {
  std::string deep;
  for (int i = 0; i < 150; ++i) deep += "<value><array><data>";
  deep += "<value>1</value>";
  for (int i = 0; i < 150; ++i) deep += "</data></array></value>";
  EXPECT_EQ(Decoded(Reply(deep)), "error");
  std::string shallow;
  for (int i = 0; i < 20; ++i) shallow += "<value><array><data>";
  shallow += "<value>1</value>";
  for (int i = 0; i < 20; ++i) shallow += "</data></array></value>";
  EXPECT_EQ(Decoded(Reply(shallow)), std::string(20, '{') + "\"1\"" + std::string(20, '}'));
}

TEST(Client, UnusableUrlsFailOnExecute) {
  const char* urls[] = {"", "ftp://127.0.2.1:2001", "xmlrpc://", "127.0.2.1 2001", "http://:80/"};
  for (const char* url : urls) {
    XmlRpc::XmlRpcClient client(url);
    EXPECT_EQ(client.httpUrl(), "") << url;
    XmlRpcValue result(1);
    EXPECT_FALSE(client.execute("listDevices", XmlRpcValue(true), result)) << url;
    EXPECT_FALSE(result.valid());
    EXPECT_NE(client.lastError(), "");
  }
}

TEST(Client, UrlForms) {
  struct Case {
    const char* text;
    const char* url;
  } cases[] = {
      {"xmlrpc://127.0.0.1:2001", "http://127.0.0.1:2001/"},
      {"XMLRPC://ccu:2010/", "http://ccu:2010/"},
      {"xmlrpc://ccu", "http://ccu:2001/"},
      {"127.0.0.1", "http://127.0.0.1:2001/"},
      {"ccu:2000", "http://ccu:2000/"},
      {"ccu/RPC2", "http://ccu:2001/RPC2"},
      {"http://ccu/RPC2", "http://ccu/RPC2"},
      {"http://ccu:8181/a/b", "http://ccu:8181/a/b"},
      {"[::1]:2001", "http://[::1]:2001/"},
  };
  for (const Case& c : cases) EXPECT_EQ(XmlRpc::XmlRpcClient(c.text).httpUrl(), c.url) << c.text;
}

TEST(DecodeResponse, ReadInPiecesAsInOne) {
  std::string nested = Reply(
      "<value><array><data><value><struct><member><name>ADDRESS</name><value>KEQ1</value>"
      "</member><member><name>K\xC3\xBC</name><value><array><data><value><i4>7</i4></value>"
      "<value><base64>AP9h\nYg==</base64></value><value><nil/></value></data></array></value>"
      "</member></struct></value><value><string>a &amp; \xE2\x82\xAC\xC3\xA4</string></value>"
      "</data></array></value>");
  const std::string replies[] = {
      nested,
      "<methodResponse><fault><value><struct><member><name>faultCode</name><value><int>-2</int>"
      "</value></member></struct></value></fault></methodResponse>",
      Reply("<value><int>12x</int></value>"),
      Reply("<value><struct><member><name>a</name></member></struct></value>"),
      "<methodResponse><params><param><value>1</value></param></params>",
      "<!DOCTYPE x><methodResponse/>",
  };
  ASSERT_EQ(DecodedInPieces(nested, 1 << 20),
            "{[ADDRESS:\"KEQ1\",K\xFC:{7,<AP9hYg==>,nil}],\"a & ?\xE4\"}");
  for (const std::string& xml : replies) {
    std::string whole = DecodedInPieces(xml, xml.size() + 1);
    if (whole.compare(0, 6, "error:") == 0) {
      EXPECT_EQ(whole, ReasonOf(xml));
    }
    for (std::size_t piece : {1, 2, 3, 7}) EXPECT_EQ(DecodedInPieces(xml, piece), whole) << xml;
    for (std::size_t announced : {xml.size(), xml.size() / 2, xml.size() + 9}) {
      EXPECT_EQ(DecodedInPieces(xml, 5, announced), whole) << xml << " announced " << announced;
    }
  }
}

// The bounds of a reply: its values, the bytes of its texts, the length of a
// piece of markup. Past one, the reply is refused at once, whatever follows.
TEST(DecodeResponse, RepliesAreBounded) {
  std::string manyEmpty = "<value><array><data>";
  for (int i = 0; i < 9; ++i) manyEmpty += "<value/>";
  manyEmpty += "</data></array></value>";
  struct Case {
    std::string xml;
    std::size_t maxValues;
    std::size_t maxText;
    const char* outcome;
  } cases[] = {
      {Reply(manyEmpty), 10, 100, "{\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"}"},
      {Reply(manyEmpty), 9, 100, "error: reply holds more than 9 values"},
      {Reply("<value>0123456789</value>"), 1, 10, "\"0123456789\""},
      {Reply("<value>0123456789x</value>"), 1, 10, "error: reply holds more than 10 bytes of text"},
      // Names count; the text of a number or of blanks counts only while it is read.
      {Reply("<value><struct><member><name>ABCD</name><value><int> 1 </int></value></member>"
             "<member><name>EFGH</name><value> <int>2</int> </value></member></struct></value>"),
       3, 10, "[ABCD:1,EFGH:2]"},
      {Reply("<value><struct><member><name>ABCDEF</name><value>x</value></member>"
             "<member><name>EFGH</name><value>y</value></member></struct></value>"),
       3, 10, "error: reply holds more than 10 bytes of text"},
      {"<methodResponse><fault><value><string>" + std::string(200, 'x') +
           "</string></value></fault></methodResponse>",
       1, 100, "error: reply holds more than 100 bytes of text"},
  };
  for (const Case& c : cases) {
    for (std::size_t piece : {c.xml.size(), std::size_t{3}}) {
      XmlRpc::ReplyReader reader(c.maxValues, c.maxText);
      for (std::size_t at = 0; at < c.xml.size(); at += piece) {
        reader.feed(c.xml.data() + at, std::min(piece, c.xml.size() - at));
      }
      XmlRpc::Outcome<XmlRpc::Response> response = reader.finish();
      std::string outcome =
          response.ok() ? response.value().value.toText() : "error: " + response.error();
      EXPECT_EQ(outcome, c.outcome) << c.xml << " in pieces of " << piece;
    }
  }
  // A tag or comment that does not end within 1 MiB, while text may be long.
  EXPECT_EQ(ReasonOf(Reply("<value><!--" + std::string(1 << 21, 'x') + "--></value>")),
            "error: reply holds a tag, comment or other markup longer than 1048576 bytes");
  EXPECT_EQ(ReasonOf(Reply("<value a='" + std::string(1 << 21, 'x') + "'/>")),
            "error: reply holds a tag, comment or other markup longer than 1048576 bytes");
  EXPECT_EQ(Decoded(Reply("<value>" + std::string(1 << 21, 'x') + "</value>")).size(),
            (1u << 21) + 2);
}
