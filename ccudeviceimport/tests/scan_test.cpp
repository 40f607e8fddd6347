#include <gtest/gtest.h>

#include "XmlRpc.h"
#include "deviceimport.h"

TEST(DeviceImportLines, ScanCases) {
  struct Case {
    const char* name;
    const char* text;
    const char* lines;
  } cases[] = {
      {"no marker", "{[NAME:\"x\",TYPE:\"y\"]}", ""},
      {"empty list", "{}", ""},
      {"device and channels",
       "{[ADDRESS:\"KEQ1\",CHILDREN:{\"KEQ1:0\"},PARENT:\"\",PARENT_TYPE:\"\",TYPE:\"KV-SW1\"],"
       "[ADDRESS:\"KEQ1:0\",PARENT:\"KEQ1\",PARENT_TYPE:\"KV-SW1\",TYPE:\"MAINTENANCE\"],"
       "[ADDRESS:\"KEQ2\",TYPE:\"KV-SC\"]}",
       "KEQ1;KV-SW1\nKEQ2;KV-SC\n"},
      {"the same address twice", "[ADDRESS:\"A\",TYPE:\"T\"][ADDRESS:\"A\",TYPE:\"T\"]",
       "A;T\nA;T\n"},
      {"PARENT_TYPE is no TYPE", "[ADDRESS:\"A\",PARENT_TYPE:\"P\",TYPE:\"T\"]", "A;T\n"},
      {"type taken from a later record", "[ADDRESS:\"A\",VERSION:1],[ADDRESS:\"B\",TYPE:\"TB\"]",
       "A;TB\n"},
      {"no type anywhere ends the scan", "[ADDRESS:\"A\",X:1][ADDRESS:\"B\",KIND:\"T\"]", ""},
      {"type without closing quote", "[ADDRESS:\"A\",TYPE:\"T", ""},
      {"address without closing quote", "x[ADDRESS:\"A", ""},
      {"marker at the very end", "[ADDRESS:", ""},
      {"marker and opening quote only", "[ADDRESS:\"", ""},
      {"the quote is not checked", "[ADDRESS:xAB\",TYPE:\"T\"]", "AB;T\n"},
      {"empty address and type", "[ADDRESS:\"\",TYPE:\"\"]", ";\n"},
      {"channel only", "[ADDRESS:\"A:1\",TYPE:\"KEY\"]", ""},
      {"scan goes on behind a channel's quote",
       "[ADDRESS:\"A:1\",TYPE:\"KEY\"],[ADDRESS:\"B\",TYPE:\"T\"]", "B;T\n"},
      {"members that sort before ADDRESS",
       "{[ACTIVE:true,ADDRESS:\"A\",TYPE:\"T\"],[AA:{1},ADDRESS:\"B\",TYPE:\"U\"],"
       "[0X:\"\",ADDRESS:\"C:1\",TYPE:\"V\"],[1:nil,ADDRESS:\"D\",AES_ACTIVE:0,TYPE:\"W\"]}",
       "A;T\nB;U\nD;W\n"},
      {"PARENT_ADDRESS is no ADDRESS", "[ADDRESS:\"A:1\",PARENT_ADDRESS:\"A\",TYPE:\"T\"]", ""},
      {"line breaks in address and type become blanks", "[ADDRESS:\"A\n##;IP=x\",TYPE:\"T\r\n\"]",
       "A ##;IP=x;T  \n"},
      {"bytes are copied", "[ADDRESS:\"\xE4\",TYPE:\"a&b <c>\"]", "\xE4;a&b <c>\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(DeviceImportLines(c.text), c.lines) << c.name;
}

// The text a real reply turns into, whatever member order the service used.
TEST(DeviceImportLines, FromADecodedReply) {
  const char* xml =
      "<?xml version='1.0'?><methodResponse><params><param><value><array><data>"
      "<value><struct>"
      "<member><name>TYPE</name><value><string>KV-W-IO&amp;12</string></value></member>"
      "<member><name>CHILDREN</name><value><array><data><value><string>KEW1:0</string></value>"
      "</data></array></value></member>"
      "<member><name>PARENT_TYPE</name><value><string></string></value></member>"
      "<member><name>ADDRESS</name><value><string>KEW1</string></value></member>"
      "</struct></value>"
      "<value><struct>"
      "<member><name>PARENT_TYPE</name><value><string>KV-W-IO&amp;12</string></value></member>"
      "<member><name>INDEX</name><value><int>0</int></value></member>"
      "<member><name>ADDRESS</name><value><string>KEW1:0</string></value></member>"
      "<member><name>TYPE</name><value><string>MAINTENANCE</string></value></member>"
      "</struct></value>"
      "</data></array></value></param></params></methodResponse>";
  XmlRpc::Outcome<XmlRpc::Response> response = XmlRpc::DecodeResponse(xml);
  ASSERT_TRUE(response.ok()) << response.error();
  const XmlRpc::XmlRpcValue& result = response.value().value;
  EXPECT_EQ(result.toText(),
            "{[ADDRESS:\"KEW1\",CHILDREN:{\"KEW1:0\"},PARENT_TYPE:\"\",TYPE:\"KV-W-IO&12\"],"
            "[ADDRESS:\"KEW1:0\",INDEX:0,PARENT_TYPE:\"KV-W-IO&12\",TYPE:\"MAINTENANCE\"]}");
  EXPECT_EQ(DeviceImportLines(result.toText()), "KEW1;KV-W-IO&12\n");
}
