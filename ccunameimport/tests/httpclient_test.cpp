#include "ccunameimport/httpclient.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

TEST(SplitUrl, HostAndPathFromIndexNine) {
  struct Case {
    const char* url;
    const char* host;
    const char* path;
  } cases[] = {
      {"http://127.0.0.1/Test.exe", "127.0.0.1", "/Test.exe"},
      {"http://127.0.1.12/Test.exe", "127.0.1.12", "/Test.exe"},
      {"http://localhost/Test.exe", "localhost", "/Test.exe"},
      // Short hosts: the slash behind them lies before index 9.
      {"http://ccu/Test.exe", "ccu/Test.exe", ""},
      {"http://ccu/abcdef/x", "ccu/abcdef", "/x"},
      {"http://127.1/Test.exe", "127.1/Test.exe", ""},
      // The port is never taken from the URL.
      {"http://127.0.0.1:8181/Test.exe", "127.0.0.1:8181", "/Test.exe"},
      // Without the scheme nothing is cut off, and the search still starts at 9.
      {"127.0.0.1/Test.exe", "127.0.0.1", "/Test.exe"},
      {"ccu.local/Test.exe", "ccu.local", "/Test.exe"},
      {"ftp://host/Test.exe", "ftp://host", "/Test.exe"},
      {"http://", "", ""},
      {"http://127.0.0.1", "127.0.0.1", ""},
  };
  for (const Case& c : cases) {
    std::string host = "old";
    std::string path = "old";
    SplitUrl(c.url, &host, &path);
    EXPECT_EQ(host, c.host) << c.url;
    EXPECT_EQ(path, c.path) << c.url;
  }
}

TEST(BuildRequestText, BytesOnTheWire) {
  EXPECT_EQ(BuildRequestText("POST", "/Test.exe", "127.0.0.1", "text/xml", "abc\n", true),
            "POST /Test.exe HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n"
            "Content-Length:4\r\n\r\nabc\n");
  // Without the flag the body still follows the blank line.
  EXPECT_EQ(BuildRequestText("POST", "/Test.exe", "127.0.0.1", "text/xml", "abc", false),
            "POST /Test.exe HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n\r\nabc");
  // An empty path and an empty body.
  EXPECT_EQ(BuildRequestText("GET", "", "ccu/Test.exe", "text/plain", "", true),
            "GET  HTTP/1.1\r\nHost: ccu/Test.exe\r\nContent-Type: text/plain\r\n"
            "Content-Length:0\r\n\r\n");
  // The length counts bytes: Latin-1 umlauts are one byte each.
  EXPECT_EQ(
      BuildRequestText("POST", "/", "h", "t", "\xE4\xF6\xFC", true),
      "POST / HTTP/1.1\r\nHost: h\r\nContent-Type: t\r\nContent-Length:3\r\n\r\n\xE4\xF6\xFC");
}

TEST(ReceiveChunk, TerminatesBehindTheBytesAndEmptiesOnError) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  ASSERT_EQ(SendText(pair[1], "a\0b"), 1);  // text ends at its NUL
  ASSERT_EQ(write(pair[1], "xy\0z", 4), 4);
  EXPECT_EQ(ReceiveChunk(pair[0], buffer, 3), 3);
  EXPECT_EQ(std::string(buffer, 4), std::string("axy\0", 4));
  EXPECT_EQ(ReceiveChunk(pair[0], buffer, 7), 2);
  EXPECT_EQ(std::string(buffer, 3), std::string("\0z\0", 3));
  close(pair[1]);
  EXPECT_EQ(ReceiveChunk(pair[0], buffer, 7), 0);
  EXPECT_EQ(buffer[0], '\0');
  close(pair[0]);
  buffer[0] = 'x';
  EXPECT_LT(ReceiveChunk(pair[0], buffer, 7), 0);  // closed descriptor
  EXPECT_EQ(buffer[0], '\0');
}

TEST(ConnectToHost, CodesForUnknownHostsAndRefusedConnections) {
  // Names that cannot be host names fail in the lookup without any query.
  EXPECT_EQ(ConnectToHost("127.0.0.1:8181", 8181), kConnectHostUnknown);
  EXPECT_EQ(ConnectToHost("ccu/Test.exe", 8181), kConnectHostUnknown);
  // Port 9 on an address of our own range: nobody listens there.
  EXPECT_EQ(ConnectToHost("127.0.1.99", 9), kConnectFailed);
}
