#include "histquery/crosssite.h"

#include <gtest/gtest.h>

namespace {

TEST(FromOtherSite, HeaderCombinations) {
  struct Case {
    const char* secFetchSite;
    const char* origin;
    const char* host;
    const char* referer;
    bool refused;
  } cases[] = {
      // No header at all: a script or an old client, taken as before.
      {nullptr, nullptr, "box:8080", nullptr, false},
      {nullptr, nullptr, nullptr, nullptr, false},
      {"", "", "box", "", false},
      // What the browser says wins over everything else.
      {"same-origin", nullptr, "box", nullptr, false},
      {"none", nullptr, "box", nullptr, false},
      {"same-origin", "http://evil", "box", "http://evil/", false},
      {"same-site", nullptr, "box", nullptr, true},
      {"cross-site", "http://box", "box", "http://box/", true},
      {"something-new", nullptr, "box", nullptr, true},
      // Origin, when there is no Sec-Fetch-Site.
      {nullptr, "http://box:8080", "box:8080", nullptr, false},
      {nullptr, "http://BOX:8080", "box:8080", nullptr, false},
      {nullptr, "http://box:80", "box", nullptr, false},
      {nullptr, "https://box", "box:443", nullptr, false},
      {nullptr, "http://box:8081", "box:8080", nullptr, true},
      {nullptr, "http://box", "box:8080", nullptr, true},
      {nullptr, "http://evil", "box", "http://box/", true},
      {nullptr, "null", "box", nullptr, true},
      {nullptr, "http://box:8080", nullptr, nullptr, true},
      {nullptr, "http://box@evil", "box", nullptr, true},
      // Referer, when there is neither.
      {nullptr, nullptr, "box:8080", "http://box:8080/HistQuery.ksq?x=1", false},
      {nullptr, nullptr, "box:8080", "http://box:8080", false},
      {nullptr, nullptr, "box:8080", "http://box:8081/HistQuery.ksq", true},
      {nullptr, nullptr, "box:8080", "http://evil/?http://box:8080/", true},
      {nullptr, nullptr, "box:8080", "box:8080", true},
  };
  for (const Case& c : cases) {
    RequestOrigin origin;
    origin.secFetchSite = c.secFetchSite;
    origin.origin = c.origin;
    origin.host = c.host;
    origin.referer = c.referer;
    EXPECT_EQ(FromOtherSite(origin), c.refused)
        << (c.secFetchSite ? c.secFetchSite : "-") << " " << (c.origin ? c.origin : "-") << " "
        << (c.host ? c.host : "-") << " " << (c.referer ? c.referer : "-");
  }
}

}  // namespace
