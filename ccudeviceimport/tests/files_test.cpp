#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>

#include "common/replacefile.h"
#include "deviceimport.h"

namespace {

// Runs each test inside a fresh directory of its own.
class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ccudeviceimport_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    char* previous = getcwd(nullptr, 0);
    previous_ = previous;
    free(previous);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(previous_.c_str()), 0);
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }
  static std::string Read(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static std::set<std::string> Names() {
    std::set<std::string> names;
    DIR* dir = opendir(".");
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
    return names;
  }
  std::string dir_;
  std::string previous_;
};

}  // namespace

TEST_F(InTempDir, ImportFileBytes) {
  ASSERT_TRUE(WriteDeviceImportFile(
      "{[ADDRESS:\"KEQ1\",TYPE:\"KV-SW1\"],[ADDRESS:\"KEQ1:1\",TYPE:\"SWITCH\"]}", "ccu", "2001"));
  EXPECT_EQ(Read("CCUDevices2001.imp"), "##;IP=ccu,Port=2001 \nKEQ1;KV-SW1\n");
  ASSERT_TRUE(WriteDeviceImportFile("no devices", "10.0.0.5", "2010"));
  EXPECT_EQ(Read("CCUDevices2010.imp"), "##;IP=10.0.0.5,Port=2010 \n");
  ASSERT_TRUE(WriteDeviceImportFile("", "a\r\nb", "2010"));  // one first line, whatever the host
  EXPECT_EQ(Read("CCUDevices2010.imp"), "##;IP=a  b,Port=2010 \n");
  EXPECT_EQ(Names(), (std::set<std::string>{"CCUDevices2001.imp", "CCUDevices2010.imp"}));
}

TEST_F(InTempDir, ReplaceFileKeepsTheOldFileOnFailure) {
  ASSERT_TRUE(ReplaceFileContent("out.txt", "old\n"));
  ASSERT_TRUE(ReplaceFileContent("out.txt", "new\n"));
  EXPECT_EQ(Read("out.txt"), "new\n");
  struct stat info {};
  ASSERT_EQ(stat("out.txt", &info), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);

  ASSERT_EQ(mkdir("busy", 0755), 0);  // a directory cannot be replaced by a file
  EXPECT_FALSE(ReplaceFileContent("busy", "x"));
  EXPECT_FALSE(ReplaceFileContent("missing-dir/out.txt", "x"));
  EXPECT_EQ(Names(), (std::set<std::string>{"out.txt", "busy"}));
}

TEST_F(InTempDir, ResultFile) {
  ASSERT_TRUE(WriteResultFile(""));
  EXPECT_EQ(Read("XMLRPCResult.txt"), "1\n\n");
  ASSERT_TRUE(WriteResultFile("Import von h:2001 ok\nKein Inport von h:2000\n"));
  EXPECT_EQ(Read("XMLRPCResult.txt"), "1\nImport von h:2001 ok\nKein Inport von h:2000\n\n");
}
