#include "histquery/page.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "histquery/report.h"

namespace {

// Collects what a print function writes.
class Capture {
 public:
  Capture() : out_(open_memstream(&data_, &size_)) {}
  ~Capture() {
    if (out_) std::fclose(out_);
    std::free(data_);
  }
  FILE* out() { return out_; }
  std::string Text() {
    std::fflush(out_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  FILE* out_;
};

const std::string kHome =
    "<button type=\"button\" onclick=\"window.location.href = 'MainMenu.htm'\">Home</button>\n";
const std::string kHistoryButton =
    "<button type=\"button\" onclick=\"window.location.href = "
    "'servmain.ksq?HTM=histobj.cls'\">Historyauswahl</button><br><hr><br>\n";

TEST(PageHead, IsTheFixedHeadWithItsPaddedStyleLine) {
  Capture c;
  PrintPageHead(c.out());
  std::string head = c.Text();
  // Only pages of the device itself may frame it.
  const std::string header =
      "Content-type: text/html\nX-Frame-Options: SAMEORIGIN\n"
      "Content-Security-Policy: frame-ancestors 'self'\n\n";
  EXPECT_EQ(head.substr(0, header.size()), header);
  head = head.substr(header.size() - 2);
  EXPECT_EQ(head.find('\r'), std::string::npos);
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = head.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(head.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[6].size(), 396u);
  EXPECT_EQ(lines[6].substr(0, 25), "<style type='text/css'>  ");
  EXPECT_EQ(lines[6].substr(381), "</style></head>");
  EXPECT_EQ(lines[6].substr(25, 34), "h1 {" + std::string(29, ' ') + "\t");
  EXPECT_EQ(lines[10] + "\n", kHome);
}

TEST(ModeHeader, SqlModeShowsPeriodAndTextEscapedWithoutLineFeed) {
  ReportRequest request;
  request.mode = ReportMode::Sql;
  request.sqlText = "select '<b>' from HISTORY where A=\"&\"";
  Period period;
  period.displayFrom = "05.03.2024 07:30:00";
  period.displayTo = "05.03.2024 23:59:00";
  Capture c;
  PrintModeHeader(c.out(), request, period);
  EXPECT_EQ(c.Text(),
            "<button type=\"button\" onclick=\"window.location.href = "
            "'servmain.ksq?HTM=histsql.cls'\">SQL-Abfrage</button><br>\n"
            "<hr>Zeitraum von 05.03.2024 07:30:00 bis 05.03.2024 23:59:00<hr>"
            "select &#39;&lt;b&gt;&#39; from HISTORY where A=&quot;&amp;&quot;<hr>");
  Capture o;
  PrintModeHeader(o.out(), ReportRequest{}, Period{});
  EXPECT_EQ(o.Text(), kHistoryButton);
}

// Runs PrintRow for rows of cells (null for SQL NULL), the first one read as
// the store reads a time stamp; rows without one never reach PrintRow.
std::string Rows(ReportPage& page, const std::vector<const char*>& names,
                 const std::vector<std::vector<const char*>>& rows) {
  Capture c;
  page.out = c.out();
  for (const auto& cells : rows) {
    std::vector<size_t> lengths;
    for (const char* cell : cells) lengths.push_back(cell != nullptr ? std::strlen(cell) : 0);
    HistoryRow row;
    row.stamp = static_cast<int32_t>(std::strtol(cells[0], nullptr, 10));
    // Digits alone stand for an integer column.
    row.stampInteger = std::strspn(cells[0], "0123456789") == std::strlen(cells[0]);
    row.columnCount = static_cast<int>(cells.size());
    row.texts = cells.data();
    row.lengths = lengths.data();
    row.names = names.data();
    PrintRow(&page, row);
  }
  return c.Text();
}

TEST(PrintRow, ObjectModeWritesOneReportLinePerRow) {
  ReportPage s;
  std::vector<const char*> names = {"TimeStamp", "ObjName", "ObjKind", "Value",
                                    "ValueText", "Source",  "State"};
  EXPECT_EQ(Rows(s, names,
                 {{"1709623800", "LICHT1", "N", "1", "1", "Taster", ""},
                  {"1709623801", "<A&B>", "N", "1", nullptr, "'q\"", "X"}}),
            "05.03.2024 07:30:00 : LICHT1 = 1 <-[Taster]<br>\n"
            "05.03.2024 07:30:01 : &lt;A&amp;B&gt; =  <-[&#39;q&quot;]<br>\n");
  EXPECT_EQ(s.rowCount, 2);
}

// The first column is a date and time where it is one: the TimeStamp
// column, or whole seconds of a plausible date; anything else as it is.
TEST(PrintRow, SqlModeOpensTheTableWithTheFirstCountedRow) {
  ReportPage s;
  s.sqlMode = true;
  EXPECT_EQ(Rows(s, {"ObjName", "<n>"},
                 {{"LICHT1", "a<b"}, {"1709623800", nullptr}, {"42", "x"}, {"<b>", "y"}}),
            "<table><tr><th>ObjName</th>\n<th>&lt;n&gt;</th>\n</tr>"
            "<tr><td>LICHT1</td><td>a&lt;b</td></tr>\n"
            "<tr><td>05.03.2024 07:30:00</td><td></td></tr>\n"
            "<tr><td>42</td><td>x</td></tr>\n"
            "<tr><td>&lt;b&gt;</td><td>y</td></tr>\n");
  EXPECT_EQ(s.rowCount, 4);
  ReportPage t;
  t.sqlMode = true;
  EXPECT_EQ(Rows(t, {"timestamp"}, {{"x"}}),
            "<table><tr><th>timestamp</th>\n</tr><tr><td>01.01.1970 00:00:00</td></tr>\n");
}

std::string Closing(ReportMode mode, const ReportEnd& end, const std::string& deleteLink = "") {
  Capture c;
  PrintClosingSection(c.out(), mode, deleteLink, Period{}, end);
  return c.Text();
}

ReportEnd Ended(std::optional<StoreFault> fault, int32_t rows = 0) {
  ReportEnd end;
  end.fault = fault;
  end.rowCount = rows;
  return end;
}

ReportEnd NotRunFor(NotRun why) {
  ReportEnd end;
  end.notRun = why;
  return end;
}

TEST(ClosingSection, EveryModeAndOutcome) {
  const std::string noData = "<b>Es gibt keine Daten f\xFCr den ausgew\xE4hlten Zeitraum</b><hr>\n";
  const std::string failed = "<br><hr>Fehler bei der Datenbankabfrage<br><hr>\n";
  const std::string deleted =
      "<b>Die ausgew\xE4hlten Daten wurden aus der Datenbank gel\xF6scht</b>\n"
      "<br>0 Datens\xE4tze wurden gel\xF6scht.<br>\n";
  const std::string notDeleted =
      "<b>Fehler: Die Daten wurden nicht aus der Datenbank gel\xF6scht</b><hr>\n";
  const std::string noPeriod = "<b>Es wurde kein Zeitraum ausgew\xE4hlt</b><hr>\n";
  const std::nullopt_t ran = std::nullopt;
  struct Case {
    ReportMode mode;
    ReportEnd end;
    std::string expected;
  } cases[] = {
      {ReportMode::Sql, Ended(ran, 1), "</table><hr>1 Datens\xE4tze gefunden.<br><hr>\n"},
      {ReportMode::Sql, Ended(ran), "<br><hr>Verarbeitung erfolgreich beendet<br><hr>\n"},
      {ReportMode::Sql, Ended(StoreFault::Missing),
       "<br><hr>Verarbeitung erfolgreich beendet<br><hr>\n"},
      {ReportMode::Sql, Ended(StoreFault::Failed), failed},
      {ReportMode::Sql, Ended(StoreFault::Failed, 1), "</table>" + failed},
      {ReportMode::Sql, NotRunFor(NotRun::NoPeriod), noPeriod},
      {ReportMode::Objects, Ended(ran), noData},
      {ReportMode::Objects, Ended(StoreFault::Missing), noData},
      {ReportMode::Objects, Ended(StoreFault::OpenFailed), failed},
      {ReportMode::Objects, NotRunFor(NotRun::NoPeriod), noPeriod},
      {ReportMode::Deletion, Ended(ran), deleted},
      {ReportMode::Deletion, Ended(StoreFault::Missing), notDeleted},
      {ReportMode::Deletion, Ended(StoreFault::OpenFailed), notDeleted},
      {ReportMode::Deletion, Ended(StoreFault::Failed), notDeleted},
      {ReportMode::Deletion, NotRunFor(NotRun::NoPeriod), noPeriod},
  };
  for (const Case& c : cases) EXPECT_EQ(Closing(c.mode, c.end), c.expected) << c.expected;
}

TEST(ClosingSection, ObjectReportOffersTheDeletion) {
  EXPECT_EQ(Closing(ReportMode::Objects, Ended(std::nullopt, 3),
                    "txDateFrom=2024-03-05&obj=Licht1;Kueche;N"),
            "<br><hr>3 Datens\xE4tze gefunden.<br><hr>\n" + kHome + kHistoryButton +
                "<button type=\"submit\" onclick=\"window.location.href = "
                "'HistQuery.ksq?ACTION=DEL&txDateFrom=2024-03-05&obj=Licht1;Kueche;N'\">"
                "Diese Daten aus der Datenbank l\xF6schen</button><br>\n"
                "<b>Die L\xF6schung kann nicht r\xFC"
                "ckg\xE4ngig gemacht werden!!</b><hr><br>\n");
}

TEST(LinkEncoded, KeepsOrdinaryRequestsAndEncodesTheRest) {
  struct Case {
    const char* request;
    const char* link;
  } cases[] = {
      {"", ""},
      {"DFW=histobj.dat&txDateFrom=2024-03-05&txTimeFrom=07%3A30&obj=A_1;Bad+oben;N",
       "DFW=histobj.dat&txDateFrom=2024-03-05&txTimeFrom=07%3A30&obj=A_1;Bad+oben;N"},
      {"obj=a';alert(1);//", "obj=a%27;alert(1);//"},
      {"obj=\"><script>", "obj=%22%3E%3Cscript%3E"},
      {"obj=a\\&x=\n\t #", "obj=a%5C&x=%0A%09%20%23"},
      {"obj=&apos;);x(&#39;", "obj=&amp;apos%3B);x(&%2339;"},
      {"obj=x&amp;y=&quot;1", "obj=x&amp;amp%3By=&amp;quot%3B1"},
      // Old references need no ";": "&lt%3B" would reach the server as "<%3B".
      {"obj=A&lt;x&obj=B", "obj=A&amp;lt%3Bx&obj=B"},
      {"obj=A&not", "obj=A&amp;not"},
      {"obj=A&copy2=1&x", "obj=A&copy2=1&amp;x"},
      {"obj=A;&;B", "obj=A;&;B"},
      {"obj=\xe4\xff", "obj=%E4%FF"},
  };
  for (const Case& c : cases) EXPECT_EQ(LinkEncoded(c.request), c.link) << c.request;
}

TEST(HtmlEscaped, EscapesTheFiveMarkupCharacters) {
  EXPECT_EQ(HtmlEscaped("a&b<c>d\"e'f\xe4"), "a&amp;b&lt;c&gt;d&quot;e&#39;f\xe4");
  EXPECT_EQ(HtmlEscaped(""), "");
}

TEST(PageEnd, ClosesBodyAndHtml) {
  Capture c;
  PrintPageEnd(c.out());
  EXPECT_EQ(c.Text(), "</body></html>\n");
}

}  // namespace
