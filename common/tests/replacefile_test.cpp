#include "common/replacefile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/tests/scratchdir.h"

namespace {

class ReplaceFileTest : public testing::Test, protected ScratchDir {};

TEST_F(ReplaceFileTest, ReplacesAWholeFileWithItsUsualPermissions) {
  mode_t mask = umask(022);
  ASSERT_TRUE(ReplaceFileContent(Path("a.txt"), "old\n"));
  ASSERT_TRUE(ReplaceFileContent(Path("a.txt"), "new\n"));
  umask(mask);
  EXPECT_EQ(Read("a.txt"), "new\n");
  EXPECT_EQ(Entries(), std::vector<std::string>{"a.txt"});
  struct stat st;
  ASSERT_EQ(stat(Path("a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(ReplaceFileTest, AFailedWriteOrSyncKeepsTheOldFile) {
  // In place of the temporary's stream: /dev/full fails every write, as a
  // full disk does; a pipe takes the writes but cannot be synced.
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  struct {
    const char* kind;
    FILE* stream;
  } cases[] = {{"full disk", std::fopen("/dev/full", "w")},
               {"sync fails", fdopen(pipeEnds[1], "w")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    ASSERT_TRUE(ReplaceFileContent(Path("a.txt"), "old\n"));
    FileReplacement file;
    ASSERT_TRUE(BeginReplacement(file, Path("a.txt")));
    std::fclose(file.stream);
    file.stream = c.stream;
    ASSERT_NE(file.stream, nullptr);
    std::fputs("new\n", file.stream);
    EXPECT_FALSE(CommitReplacement(file));
    EXPECT_EQ(Read("a.txt"), "old\n");
    EXPECT_EQ(Entries(), std::vector<std::string>{"a.txt"});
  }
  close(pipeEnds[0]);
}

TEST_F(ReplaceFileTest, AbandonedOrUnplaceableFilesLeaveNothingBehind) {
  ASSERT_TRUE(ReplaceFileContent(Path("a.txt"), "old\n"));
  FileReplacement file;
  ASSERT_TRUE(BeginReplacement(file, Path("a.txt")));
  std::fputs("new\n", file.stream);
  ASSERT_TRUE(FinishReplacement(file));
  EXPECT_EQ(Read(file.tempPath.substr(path().size() + 1)), "new\n");
  AbandonReplacement(file);
  EXPECT_EQ(Entries(), std::vector<std::string>{"a.txt"});

  ASSERT_EQ(mkdir(Path("busy").c_str(), 0755), 0);  // a directory in the file's place
  EXPECT_FALSE(ReplaceFileContent(Path("busy"), "x"));
  EXPECT_FALSE(ReplaceFileContent(Path("missing/b.txt"), "x"));
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a.txt", "busy"}));
}

}  // namespace
