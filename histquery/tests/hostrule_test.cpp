#include "histquery/hostrule.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A FILE holding `text`, for the readers of resolv.conf and the allow file.
struct TextFile {
  explicit TextFile(const std::string& text) : file(std::tmpfile()) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
  }
  ~TextFile() { std::fclose(file); }
  FILE* file;
};

TEST(HostAllowed, LiteralsLocalhostAndListedNames) {
  const std::vector<std::string> names = {"ccu", "ccu.fritz.box", "homematic.lan"};
  struct Case {
    const char* host;
    bool allowed;
  } cases[] = {
      // No Host: no browser.
      {nullptr, true},
      {"", true},
      // Address literals, with or without a port.
      {"192.168.178.20", true},
      {"192.168.178.20:8080", true},
      {"127.0.0.1.", true},
      {"[::1]", true},
      {"[fe80::1]:80", true},
      {"[::1", false},
      {"[evil.example]", false},
      {"::1", false},
      {"0x7f.0.0.1", false},
      {"127.1", false},
      {"1.2.3.4.evil.example", false},
      {"192.168.178.20:80x", false},
      {"localhost", true},
      {"LOCALHOST:8080", true},
      {"localhost.evil.example", false},
      // The machine's names and the listed ones, in any case.
      {"ccu", true},
      {"CCU.fritz.box:80", true},
      {"homematic.lan.", true},
      {"homematic.lan:", true},
      {"evil.example:8091", false},
      {"ccu.evil.example", false},
      {"xccu", false},
      {":80", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HostAllowed(c.host, names), c.allowed) << (c.host ? c.host : "(none)");
  }
}

TEST(OwnHostNames, NameWithTheConfiguredDomain) {
  using Names = std::vector<std::string>;
  EXPECT_EQ(OwnHostNames("CCU3", "fritz.box"), (Names{"ccu3", "ccu3.fritz.box"}));
  EXPECT_EQ(OwnHostNames("ccu3.lan", "fritz.box"), (Names{"ccu3.lan", "ccu3"}));
  EXPECT_EQ(OwnHostNames("ccu3", ""), (Names{"ccu3"}));
  EXPECT_EQ(OwnHostNames("", "fritz.box"), (Names{}));

  struct Case {
    const char* resolvConf;
    const char* domain;
  } cases[] = {
      {"nameserver 192.168.178.1\nsearch fritz.box lan\n", "fritz.box"},
      {"domain Home.Lan\n", "home.lan"},
      {"search a.lan\ndomain b.lan\n", "b.lan"},
      {"# search x.lan\nsearchx y.lan\nnameserver 1.1.1.1\n", ""},
      {"search\t\tc.lan \n", "c.lan"},
      {"", ""},
  };
  for (const Case& c : cases) {
    TextFile file(c.resolvConf);
    EXPECT_EQ(ConfiguredDomain(file.file), c.domain) << c.resolvConf;
  }
}

TEST(ListedHostNames, OneNameALine) {
  using Names = std::vector<std::string>;
  struct Case {
    std::string text;
    Names names;
  } cases[] = {
      {"ccu.test\n", {"ccu.test"}},
      {"# names of the CCU\n\n  CCU.Test  \r\nhomematic # the old name\nbox:8080",
       {"ccu.test", "homematic", "box"}},
      {"", {}},
      {"\xEF\xBB\xBF"
       "ccu.test\r\nbox\n",
       {"ccu.test", "box"}},  // a byte-order mark
      // Past the bound only whole lines count: never a piece of a name.
      {"box\n" + std::string(kMaxAllowedHostsBytes - 13, '#') + "\nccu.testing.example\n", {"box"}},
  };
  for (const Case& c : cases) {
    TextFile file(c.text);
    EXPECT_EQ(ListedHostNames(file.file), c.names) << c.text.substr(0, 40);
  }
}

}  // namespace
