#include "histquery/crosssite.h"

#include <gtest/gtest.h>

namespace {

TEST(FromOwnPage, HeaderCombinations) {
  struct Case {
    const char* secFetchSite;
    const char* origin;
    const char* host;
    const char* referer;
    bool proven;
  } cases[] = {
      // No header at all: a script, an old client, or a foreign page over
      // plain http that stripped its Referer. No proof.
      {nullptr, nullptr, "box:8080", nullptr, false},
      {nullptr, nullptr, nullptr, nullptr, false},
      {"", "", "box", "", false},
      // What the browser says wins over everything else.
      {"same-origin", nullptr, "box", nullptr, true},
      {"none", nullptr, "box", nullptr, false},
      {"none", "http://box", "box", "http://box/", false},
      {"same-origin", "http://evil", "box", "http://evil/", true},
      {"same-site", nullptr, "box", nullptr, false},
      {"cross-site", "http://box", "box", "http://box/", false},
      {"something-new", nullptr, "box", nullptr, false},
      // Origin, when there is no Sec-Fetch-Site.
      {nullptr, "http://box:8080", "box:8080", nullptr, true},
      {nullptr, "http://BOX:8080", "box:8080", nullptr, true},
      {nullptr, "http://box:80", "box", nullptr, true},
      {nullptr, "https://box", "box:443", nullptr, true},
      {nullptr, "http://box:8081", "box:8080", nullptr, false},
      {nullptr, "http://box", "box:8080", nullptr, false},
      {nullptr, "http://evil", "box", "http://box/", false},
      {nullptr, "null", "box", "http://box/", false},
      {nullptr, "http://box:8080", nullptr, nullptr, false},
      {nullptr, "http://box@evil", "box", nullptr, false},
      // Referer, when there is neither: the full URL (same-origin policy) or
      // only the origin (strict-origin-when-cross-origin).
      {nullptr, nullptr, "box:8080", "http://box:8080/HistQuery.ksq?x=1", true},
      {nullptr, nullptr, "box:8080", "http://box:8080/", true},
      {nullptr, nullptr, "box:8080", "http://box:8080", true},
      {nullptr, nullptr, "box:8080", "http://box:8081/HistQuery.ksq", false},
      {nullptr, nullptr, "box:8080", "http://evil/?http://box:8080/", false},
      {nullptr, nullptr, "box:8080", "box:8080", false},
      {nullptr, nullptr, nullptr, "http://box:8080/", false},
  };
  for (const Case& c : cases) {
    RequestOrigin origin;
    origin.secFetchSite = c.secFetchSite;
    origin.origin = c.origin;
    origin.host = c.host;
    origin.referer = c.referer;
    EXPECT_EQ(FromOwnPage(origin), c.proven)
        << (c.secFetchSite ? c.secFetchSite : "-") << " " << (c.origin ? c.origin : "-") << " "
        << (c.host ? c.host : "-") << " " << (c.referer ? c.referer : "-");
  }
}

}  // namespace
