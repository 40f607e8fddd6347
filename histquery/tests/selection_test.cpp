#include "histquery/selection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/replacefile.h"
#include "common/tests/scratchdir.h"

namespace {

// Each test runs in a fresh working directory of its own.
class SelectionTest : public testing::Test, protected ScratchDir {
 protected:
  SelectionTest() : ScratchDir(Enter::Yes) {}
  static Selection Take(const std::string& request) {
    // As sent by the front end's pages.
    return TakeSelection(ParseReportRequest(request), SelectionUse::Report);
  }
};

const char kExampleRequest[] =
    "txDateFrom=2024-03-05&txTimeFrom=07%3A30&txDateTo=2024-03-05&txTimeTo=23%3A59"
    "&obj=Licht1%3BKueche%3BN";

TEST_F(SelectionTest, RequestGivesPeriodEntriesAndSelectionFile) {
  Selection s = Take(kExampleRequest);
  EXPECT_EQ(s.period.from, "2024-03-05 07:30:00");
  EXPECT_EQ(s.period.to, "2024-03-05 23:59:00");
  EXPECT_EQ(s.period.displayFrom, "05.03.2024 07:30:00");
  EXPECT_EQ(s.period.stamps.from, 1709623800);
  EXPECT_EQ(s.period.stamps.to, 1709683140);
  ASSERT_EQ(s.objects.size(), 1u);
  EXPECT_EQ(s.objects[0].name, "Licht1");
  EXPECT_EQ(s.objects[0].label, "Kueche");
  EXPECT_EQ(s.objects[0].kind, 'N');
  // The request carried period and objects: the link repeats it, fields decoded.
  EXPECT_EQ(s.deleteLink, std::string(kExampleRequest)
                              .replace(std::string(kExampleRequest).find("obj="), std::string::npos,
                                       "obj=Licht1;Kueche;N"));
  EXPECT_EQ(Read("histobj.dat"),
            "txDateFrom=2024-03-05\ntxTimeFrom=07:30:00\ntxDateTo=2024-03-05\n"
            "txTimeTo=23:59:00\nobj=Licht1;Kueche;N\n");
  EXPECT_EQ(Entries(), std::vector<std::string>{"histobj.dat"});  // no temporary file left
}

TEST_F(SelectionTest, TimeValuesArePaddedOrIgnored) {
  struct Case {
    const char* time;
    const char* periodFrom;
    const char* line;
  } cases[] = {
      {"1230", "2024-03-05 00:00:00", "txTimeFrom=00:00:00\n"},
      {"12:30", "2024-03-05 12:30:00", "txTimeFrom=12:30:00\n"},
      {"12%3A30%3A15", "2024-03-05 12:30:15", "txTimeFrom=12:30:15\n"},
      {"7:5", "", ""},
  };
  for (const Case& c : cases) {
    Selection s = Take(std::string("txDateFrom=2024-03-05&txTimeFrom=") + c.time);
    EXPECT_EQ(s.period.from, c.periodFrom) << c.time;
    EXPECT_EQ(Read("histobj.dat"), std::string("txDateFrom=2024-03-05\n") + c.line + "txDateTo=\n")
        << c.time;
  }
}

TEST_F(SelectionTest, ShortDatesEndThePeriodLines) {
  Take("txDateFrom=24-3-5&txTimeFrom=07%3A30&txDateTo=2024-03-05&obj=A%3B%3B");
  EXPECT_EQ(Read("histobj.dat"), "txDateFrom=24-3-5\nobj=A;;\n");
  Selection s = Take("txDateFrom=2024-03-05&txTimeFrom=07%3A30&txDateTo=5.3.24&txTimeTo=10%3A00");
  EXPECT_EQ(s.period.to, "");
  EXPECT_EQ(Read("histobj.dat"), "txDateFrom=2024-03-05\ntxTimeFrom=07:30:00\ntxDateTo=5.3.24\n");
}

TEST_F(SelectionTest, EmptyRequestLoadsHistobjAndWritesNothing) {
  const std::string saved =
      "txDateFrom=2024-03-05\ntxTimeFrom=07:30:00\ntxDateTo=2024-03-06\ntxTimeTo=08:00:00\n"
      "obj=Licht1;Kueche;N\nobj=heizung;Bad;C\nSQL=select 1\n";
  Write("histobj.dat", saved);
  Selection s = Take("");
  EXPECT_EQ(s.period.from, "2024-03-05 07:30:00");
  EXPECT_EQ(s.period.to, "2024-03-06 08:00:00");
  ASSERT_EQ(s.objects.size(), 2u);
  EXPECT_EQ(s.objects[1].name, "heizung");
  EXPECT_EQ(s.objects[1].kind, 'C');
  EXPECT_EQ(Read("histobj.dat"), saved);
}

TEST_F(SelectionTest, RequestValuesReplaceTheLoadedFile) {
  Write("mine.dat",
        "txDateFrom=2024-01-01\ntxTimeFrom=00:00:00\ntxDateTo=2024-01-02\n"
        "txTimeTo=00:00:00\nobj=OLD;x;N\n");
  Selection s = Take("DFW=mine.dat&txDateFrom=2024-03-05&txTimeFrom=07%3A30");
  EXPECT_EQ(s.period.from, "2024-03-05 07:30:00");
  EXPECT_EQ(s.period.to, "2024-01-02 00:00:00");  // the request gave no end
  EXPECT_EQ(s.objects.size(), 0u);                // nor any object
  EXPECT_EQ(Read("mine.dat").substr(0, 22), "txDateFrom=2024-01-01\n");
}

TEST_F(SelectionTest, OnlyPlainFileNamesAreLoaded) {
  EXPECT_EQ(SelectionFileToLoad(ParseReportRequest("")), "histobj.dat");
  EXPECT_EQ(SelectionFileToLoad(ParseReportRequest("txDateFrom=x")), "");
  EXPECT_EQ(SelectionFileToLoad(ParseReportRequest("DFW=histsql.dat&x=1")), "histsql.dat");
  for (const char* request : {"DFW=", "DFW=../histobj.dat", "DFW=/etc/passwd", "DFW=.hidden",
                              "DFW=sub/x.dat", "DFW=%2Fetc%2Fpasswd"}) {
    std::string name = SelectionFileToLoad(ParseReportRequest(request));
    EXPECT_TRUE(name.empty() || name == "%2Fetc%2Fpasswd") << request;
  }
  mkdir("sub", 0700);
  Write("sub/x.dat", "txDateFrom=2020-01-01\ntxTimeFrom=00:00:00\n");
  EXPECT_EQ(Take("DFW=sub/x.dat&SQL=select%20*").period.from, "");
}

TEST_F(SelectionTest, LoadingCutsLinesAndStopsAfterEightEntries) {
  std::string file = "txDateFrom=2024-03-05EXTRA\ntxTimeFrom=07:30:00EXTRA\nab\n\n";
  file += "obj=" + std::string(300, 'N') + ";L;K\n";  // arrives as pieces of 254
  for (int i = 1; i <= 9; ++i) file += "obj=O" + std::to_string(i) + ";L;U\n";
  file += "txDateTo=2024-03-06\ntxTimeTo=09:00:00\n";  // after the eighth entry: not read
  Write("histobj.dat", file);
  Selection s = Take("");
  EXPECT_EQ(s.period.from, "2024-03-05 07:30:00");
  EXPECT_EQ(s.period.to, "");
  ASSERT_EQ(s.objects.size(), 8u);
  EXPECT_EQ(s.objects[0].name, std::string(128, 'N'));
  EXPECT_EQ(s.objects[0].kind, '\0');
  EXPECT_EQ(s.objects[1].name, "O1");
  EXPECT_EQ(s.objects[7].name, "O7");
  EXPECT_EQ(s.objects[7].kind, 'U');
}

TEST_F(SelectionTest, MoreThanEightObjectsAreCutAtEight) {
  std::string request = "txDateFrom=2024-03-05";
  for (int i = 1; i <= 13; ++i) request += "&obj=O" + std::to_string(i) + "%3BL%3BN";
  Selection s = Take(request);
  ASSERT_EQ(s.objects.size(), 8u);
  EXPECT_EQ(s.objects[7].name, "O8");
  std::string saved = Read("histobj.dat");
  EXPECT_NE(saved.find("obj=O8;L;N\n"), std::string::npos);
  EXPECT_EQ(saved.find("obj=O9"), std::string::npos);
}

TEST_F(SelectionTest, ARequestBeginningWithObjCountsAllItsObjects) {
  Selection s = Take("obj=A%3Bx%3BN&obj=B%3By%3BC");
  ASSERT_EQ(s.objects.size(), 2u);
  EXPECT_EQ(s.objects[0].name, "A");
  EXPECT_EQ(s.objects[1].name, "B");
  EXPECT_EQ(Read("histobj.dat"), "txDateFrom=\nobj=A;x;N\nobj=B;y;C\n");
}

TEST_F(SelectionTest, SqlModeWritesHistsqlOnly) {
  Selection s = Take(
      "SQL=select+*+from+HISTORY+where+State%3D%27X%27&txDateFrom=2024-03-05&txTimeFrom=07%3A30"
      "&txDateTo=2024-03-05&txTimeTo=23%3A59&obj=A%3B%3B");
  EXPECT_EQ(s.objects.size(), 0u);
  EXPECT_EQ(Read("histsql.dat"),
            "txDateFrom=2024-03-05\ntxTimeFrom=07:30:00\ntxDateTo=2024-03-05\n"
            "txTimeTo=23:59:00\nSQL=select * from HISTORY where State='X'\n");
  EXPECT_EQ(Read("histobj.dat"), "(missing)");
}

TEST_F(SelectionTest, AnUnwritableSelectionFileLeavesTheRunGoing) {
  // A directory in its place cannot be replaced, by root neither.
  ASSERT_EQ(mkdir("histobj.dat", 0700), 0);
  Selection s = Take(kExampleRequest);
  EXPECT_EQ(s.objects.size(), 1u);
  EXPECT_EQ(s.period.stamps.from, 1709623800);
  EXPECT_FALSE(ReplaceFileContent("histobj.dat", "x"));
  EXPECT_EQ(Entries(), std::vector<std::string>{"histobj.dat"});  // no temporary file left
  if (geteuid() == 0) return;  // root writes into a read-only directory too
  rmdir("histobj.dat");
  Write("histobj.dat", "old\n");
  chmod(".", 0500);
  EXPECT_FALSE(ReplaceFileContent("histobj.dat", "x"));
  chmod(".", 0700);
  EXPECT_EQ(Read("histobj.dat"), "old\n");
}

TEST_F(SelectionTest, SavedFileGetsTheUsualPermissions) {
  mode_t old = umask(022);
  ASSERT_TRUE(ReplaceFileContent("histobj.dat", "x\n"));
  umask(old);
  struct stat st;
  ASSERT_EQ(stat("histobj.dat", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// A period is usable by meaning: both ends are dates ParseDateTime reads and
// the start is not after the end. The file's times may be HH:MM.
TEST_F(SelectionTest, PeriodUsableByMeaning) {
  struct Case {
    const char* request;
    const char* file;
    bool usable;
  } cases[] = {
      {kExampleRequest, "", true},
      {"txDateFrom=2024-13-05&txTimeFrom=07%3A30&txDateTo=2024-12-05&txTimeTo=23%3A59", "", false},
      {"txDateFrom=2024-03-05&txTimeFrom=07%3A30&txDateTo=2024-03-32&txTimeTo=23%3A59", "", false},
      {"txDateFrom=2024-03-06&txTimeFrom=00%3A00&txDateTo=2024-03-05&txTimeTo=23%3A59", "", false},
      {"txDateFrom=2024-03-05&txTimeFrom=07%3A30&txDateTo=2024-03-05&txTimeTo=07%3A30", "", true},
      {"txDateFrom=abcdefghij&txTimeFrom=07%3A30&txDateTo=2024-03-05&txTimeTo=07%3A30", "", false},
      {"", "txDateFrom=2024-03-05\ntxTimeFrom=07:30\ntxDateTo=2024-03-05\ntxTimeTo=23:59\n", true},
      {"", "txDateFrom=2024-03-05\ntxTimeFrom=07:30:00\ntxDateTo=2024-03-05\n", false},
      {"", "", false},
  };
  for (const Case& c : cases) {
    std::remove("histobj.dat");
    if (c.file[0] != '\0') Write("histobj.dat", c.file);
    EXPECT_EQ(Take(c.request).period.Usable(), c.usable) << c.request << " / " << c.file;
  }
}

// Values that came from a selection file go into the delete link itself.
TEST_F(SelectionTest, DeleteLinkCarriesWhatTheFileGave) {
  const char* saved =
      "txDateFrom=2024-03-05\ntxTimeFrom=07:30\ntxDateTo=2024-03-05\ntxTimeTo=23:59:00\n"
      "obj=K%FCche+Licht;Licht;C\nobj=B;;\n";
  Write("histobj.dat", saved);
  EXPECT_EQ(Take("").deleteLink,
            "txDateFrom=2024-03-05&txTimeFrom=07%3A30&txDateTo=2024-03-05&txTimeTo=23%3A59%3A00"
            "&obj=K%FCche%20Licht;Licht;C&obj=B;;");
  EXPECT_EQ(Take("").objects[0].name,
            "K\xFC"
            "che Licht");
  EXPECT_EQ(Take("").objects[0].compared,
            "K\xDC"
            "CHE LICHT");
  Write("mine.dat", saved);
  EXPECT_EQ(Take("DFW=mine.dat&obj=A%3Bx%3BN").deleteLink,
            "txDateFrom=2024-03-05&txTimeFrom=07%3A30&txDateTo=2024-03-05"
            "&txTimeTo=23%3A59%3A00&obj=A;x;N");
}

}  // namespace
