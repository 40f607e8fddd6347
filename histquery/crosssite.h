// Whether a request that would change the history comes from a page of this
// host.
//
// The device has no login: any page that anyone on the home network opens can
// make the browser send requests to it. Over plain http at a LAN address or
// name a browser sends no Sec-Fetch-* headers, and a foreign page can strip
// its Referer, so the absence of a foreign header proves nothing: a change
// runs only on positive proof that our own page sent it.
#pragma once

// The headers as the web server passes them (HTTP_SEC_FETCH_SITE,
// HTTP_ORIGIN, HTTP_HOST, HTTP_REFERER); null or empty when absent.
struct RequestOrigin {
  const char* secFetchSite = nullptr;
  const char* origin = nullptr;
  const char* host = nullptr;
  const char* referer = nullptr;
};

// The proof, the first header present deciding:
// 1. Sec-Fetch-Site is "same-origin" ("none", typed or bookmarked, is no
//    proof: a link in a mail looks the same);
// 2. else Origin names the host:port of Host (the port a scheme implies
//    counts as given);
// 3. else Referer names it.
// Without any of them there is no proof.
bool FromOwnPage(const RequestOrigin& origin);

// The headers of this run, from the CGI environment.
RequestOrigin CgiRequestOrigin();
