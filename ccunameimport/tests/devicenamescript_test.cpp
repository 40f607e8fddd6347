#include "ccunameimport/devicenamescript.h"

#include <gtest/gtest.h>

#include <string>

TEST(DeviceNameScript, PiecesByteForByte) {
  auto piece = [](int tabs, const std::string& text, int blanks) {
    return std::string(static_cast<size_t>(tabs), '\t') + text +
           std::string(static_cast<size_t>(blanks), ' ');
  };
  const std::string pieces[] = {
      piece(0, "string id;", 43),
      piece(1, "foreach(id, root.Devices().EnumIDs()){", 16),
      piece(2, "var dev=dom.GetObject(id);", 26),
      piece(2, "if (dev) {", 42),
      piece(3, "Write(\"\"#dev.Address()#\"=\"#dev.Name()#\"\x0A\");", 1),
      piece(2, "}", 51),
      piece(3, "string cid;", 39),
      piece(3, "foreach(cid, dev.Channels().EnumIDs()){", 11),
      piece(3, "var ch=dom.GetObject(cid);", 24),
      piece(3, "if (ch) {", 41),
      piece(4, "Write(\"\"#ch.Address()#\"=\"#ch.Name()#\"\x0A\");", 1),
      piece(4, "}", 47),
      piece(3, "}", 49),
      piece(1, "}", 0),
  };
  const size_t lengths[] = {53, 55, 54, 54, 47, 54, 53, 53, 53, 53, 46, 52, 53, 2};
  ASSERT_EQ(DeviceNameScript.size(), 682u);
  size_t at = 0;
  for (size_t i = 0; i < 14; ++i) {
    EXPECT_EQ(pieces[i].size(), lengths[i]) << "piece " << i + 1;
    EXPECT_EQ(DeviceNameScript.substr(at, pieces[i].size()), pieces[i]) << "piece " << i + 1;
    at += pieces[i].size();
  }
  EXPECT_EQ(at, 682u);
  // The two line feeds inside the Write literals are the only ones.
  size_t lineFeeds = 0;
  for (char c : DeviceNameScript) lineFeeds += (c == '\n');
  EXPECT_EQ(lineFeeds, 2u);
  EXPECT_EQ(DeviceNameScript.find('\r'), std::string::npos);
}
