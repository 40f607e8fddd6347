#include "ccunameimport/nameimport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Runs `text` through WriteImportLines via real files and returns what it wrote.
std::string ImportOf(const std::string& text) {
  FILE* names = std::tmpfile();
  FILE* import = std::tmpfile();
  EXPECT_TRUE(names != nullptr && import != nullptr);
  std::fwrite(text.data(), 1, text.size(), names);
  std::rewind(names);
  EXPECT_TRUE(WriteImportLines(names, import));
  std::string result;
  std::rewind(import);
  char block[4096];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, import)) > 0) result.append(block, n);
  std::fclose(names);
  std::fclose(import);
  return result;
}

}  // namespace

TEST(CleanNameLine, Table) {
  struct Case {
    const char* line;
    bool kept;
    const char* cleaned;
  } cases[] = {
      {"ABC0001234:1=Licht K\xFC"
       "che (Flur)\n",
       true, "ABC0001234_1=Licht_Kueche__Flur_\n"},
      {"ABC0001234=Stra\xDF"
       "e\n",
       true, "ABC0001234=Strasze\n"},
      {"ABC0001234=\xC4\xD6\xDC\xE4\xF6\xFC\xDF\n", true, "ABC0001234=AeOeUeaeoeuesz\n"},
      {"A=\xFC.\xFC-\xFC/\xFC\n", true, "A=ue_ue_ue_ue\n"},
      {"ABC0001234:2=Bad/WC-Licht 1.OG\n", true, "ABC0001234_2=Bad_WC_Licht_1_OG\n"},
      {"ABC0001234=K\xFC"
       "che\r\n",
       true, "ABC0001234=Kueche\r\n"},                                   // CR kept
      {"ABC0001234=Caf\xE9 \xA4\n", true, "ABC0001234=Caf\xE9_\xA4\n"},  // other bytes stay
      {"ABC0001234=a=b\n", true, "ABC0001234=a=b\n"},
      {"BidCoS-RF=BidCoS-RF\n", false, ""},
      {"BidCoS-RF:1=Taste 1\n", false, ""},
      {"BidCoS\n", false, ""},
      {"bidcos-rf:1=Taste 1\n", true, "bidcos_rf_1=Taste_1\n"},  // case-sensitive
      {"xBidCoS:1=x\n", true, "xBidCoS_1=x\n"},
      {"=Ohne Adresse\n", false, ""},
      {"A=b\n", false, ""},        // 4 bytes
      {"A=bc\n", true, "A=bc\n"},  // 5 bytes
      {"A=bcd", true, "A=bcd"},    // last piece without line feed
      {"A=bc", false, ""},
      {"\r\n", false, ""},  // the empty line left by the cut
      {"\n", false, ""},
  };
  for (const Case& c : cases) {
    std::string line = c.line;
    EXPECT_EQ(CleanNameLine(line), c.kept) << c.line;
    if (c.kept) {
      EXPECT_EQ(line, c.cleaned) << c.line;
    }
  }
}

TEST(CheckAnswer, Cases) {
  using V = AnswerVerdict;
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const std::string chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
  HttpResponse cut;
  cut.cut = true;
  HttpResponse reset;
  reset.broken = true;
  struct Case {
    std::string response;
    V verdict;
    bool framed;
    std::string nameList;      // with NameList
    HttpResponse ending = {};  // how receiving ended: its flags
  } cases[] = {
      {ok + "Content-Length: 5\r\n\r\nAB=cd", V::NameList, true, "\r\nAB=cd"},
      {ok + "Content-Length: 6\r\n\r\nAB=cd", V::CutShort, true, ""},
      {ok + "content-length:6\r\n\r\nAB=cdef", V::NameList, true, "\r\nAB=cdef"},
      {ok + "X: 1\r\nCONTENT-LENGTH: 100\r\n\r\nAB=cd", V::CutShort, true, ""},
      {ok + "Content-Type: text/plain\r\n\r\nAB=cd\r\n", V::NameList, false, "\r\nAB=cd"},
      {ok + "Content-Length: x\r\n\r\nAB=cd", V::NameList, false, "\r\nAB=cd"},
      {ok + "\r\nContent-Length: 99\r\n", V::NameList, false, "\r\nContent-Length: 99"},
      {ok + "Content-Length: 99", V::NoHeaderEnd, false, ""},
      {"", V::NoHeaderEnd, false, ""},
      // Error pages, empty bodies and answers that are no HTTP answers.
      {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 5\r\n\r\nError", V::ErrorStatus,
       false, ""},
      {"HTTP/1.0 404 Not Found\r\n\r\nAB=cd\n", V::ErrorStatus, false, ""},
      {"HTTP/1.1 301 Moved\r\n\r\n", V::ErrorStatus, false, ""},
      {"HTTP/1.1 204 No Content\r\n\r\n", V::EmptyBody, false, ""},
      {ok + "Content-Length: 0\r\n\r\n", V::EmptyBody, true, ""},
      {ok + "Content-Length: 4\r\n\r\n\r\n\r\n", V::EmptyBody, true, ""},
      {"ICY 200 OK\r\n\r\nAB=cd", V::Malformed, false, ""},
      {"HTTP/1.1 2x0 OK\r\n\r\nAB=cd", V::Malformed, false, ""},
      // A NUL is dropped, the names behind it kept; the length counts it.
      {ok + "Content-Length: 13\r\n\r\nAB=c" + std::string(1, '\0') + "d\nEF=gh\r\n", V::NameList,
       true, "\r\nAB=cd\nEF=gh"},
      // Chunks: decoded, a name split at a chunk edge joined again.
      {chunked + "4\r\nAB=c\r\n6;x=1\r\nd\nEF=g\r\n0\r\nX-T: 1\r\n\r\n", V::NameList, true,
       "\r\nAB=cd\nEF=g"},
      {ok + "Transfer-Encoding: Chunked\r\nContent-Length: 3\r\n\r\n5\r\nAB=cd\r\n0\r\n\r\n",
       V::NameList, true, "\r\nAB=cd"},
      {chunked + "4\r\nAB=c\r\n6\r\nd\nE", V::CutShort, true, ""},
      {chunked + "4\r\nAB=c\r\n", V::CutShort, true, ""},
      {chunked + "ffffffffffffffffffff\r\nAB", V::CutShort, true, ""},
      {chunked + "zz\r\nAB=c\r\n0\r\n\r\n", V::Malformed, true, ""},
      {chunked + "4\r\nAB=cd\r\n0\r\n\r\n", V::Malformed, true, ""},
      {chunked + "0\r\n\r\n", V::EmptyBody, true, ""},
      // The list is cut from the second half of the first header end; only a
      // closing CR LF is dropped, so a name at the very end stays whole.
      {ok + "A: b\r\n\r\nX=yz\nV=wq\n\r\n", V::NameList, false, "\r\nX=yz\nV=wq\n"},
      {ok + "\r\nX=yz\nV=wq\n", V::NameList, false, "\r\nX=yz\nV=wq\n"},
      {ok + "\r\nX=yz\nV=w", V::NameList, false, "\r\nX=yz\nV=w"},
      {ok + "\r\nA=bc\r\n\r\nD=ef\r\n", V::NameList, false, "\r\nA=bc\r\n\r\nD=ef"},
      {ok + "\r\n", V::EmptyBody, false, ""},
      {ok + "\r\n\r\n", V::EmptyBody, false, ""},
      {"HTTP/1.1 200 OK\nA: b\n\nX=yz\n", V::NoHeaderEnd, false, ""},
      {"HTTP/1.1 200 OK\r\n\r", V::NoHeaderEnd, false, ""},
      // Receiving that was cut or reset ends an answer without framing short;
      // a length or the last chunk says the answer is whole all the same.
      {ok + "Content-Type: text/plain\r\n\r\nAB=cd\r\n", V::CutShort, false, "", cut},
      {ok + "Content-Type: text/plain\r\n\r\nAB=cd\r\n", V::CutShort, false, "", reset},
      {ok + "Content-Length: 5\r\n\r\nAB=cd", V::NameList, true, "\r\nAB=cd", cut},
      {chunked + "5\r\nAB=cd\r\n0\r\n\r\n", V::NameList, true, "\r\nAB=cd", reset},
      {ok + "\r\n\r\n", V::EmptyBody, false, "", cut},
  };
  for (const Case& c : cases) {
    std::string nameList = "unchanged";
    HttpResponse received = c.ending;
    received.raw = c.response;
    AnswerCheck check = CheckAnswer(received, &nameList);
    EXPECT_EQ(check.verdict, c.verdict) << c.response;
    if (c.verdict == V::NameList) {
      EXPECT_EQ(check.framed, c.framed) << c.response;
      EXPECT_EQ(nameList, c.nameList) << c.response;
    } else {
      EXPECT_EQ(nameList, "unchanged") << c.response;
    }
  }
  AnswerCheck error = CheckAnswer(HttpResponse{"HTTP/1.1 503 Busy\r\n\r\n"}, nullptr);
  EXPECT_EQ(error.status, 503);
}

TEST(WriteImportLines, LinesInOrder) {
  const std::string text =
      "\r\nABC0001234=Licht K\xFC"
      "che\nABC0001234:1=Taste\nBidCoS-RF=BidCoS-RF\nA=b\n"
      "ABC0001235:2=Stra\xDF"
      "e\n";
  EXPECT_EQ(ImportOf(text), "ABC0001234=Licht_Kueche\nABC0001234_1=Taste\nABC0001235_2=Strasze\n");
  EXPECT_EQ(ImportOf(""), "");
}

TEST(WriteImportLines, LongLinesInPieces) {
  // 127,999 bytes fill the line buffer; the rest of the line is a piece of its own.
  std::string first = "ABC0001234=" + std::string(127999 - 11, 'a');
  std::string line = first + "b c\xFC\n";
  EXPECT_EQ(ImportOf(line + "XYZ:1=Ende\n"), first + "b_cue\nXYZ_1=Ende\n");
  // A short remainder of 4 bytes or less is dropped like any short line.
  EXPECT_EQ(ImportOf(first + "bc\n"), first);
  // The remainder is cleaned on its own: a piece starting with BidCoS goes.
  EXPECT_EQ(ImportOf(first + "BidCoS x\n"), first);
}
