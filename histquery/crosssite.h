// Whether a request that would change the history comes from another site.
//
// The device has no login: any page that anyone on the home network opens can
// make the browser send requests to it. Browsers say where a request comes
// from; a request that would change data is refused when they name another
// site. A request without any of these headers (a script, an old client)
// is taken as before.
#pragma once

// The headers as the web server passes them (HTTP_SEC_FETCH_SITE,
// HTTP_ORIGIN, HTTP_HOST, HTTP_REFERER); null or empty when absent.
struct RequestOrigin {
  const char* secFetchSite = nullptr;
  const char* origin = nullptr;
  const char* host = nullptr;
  const char* referer = nullptr;
};

// The rule, in this order:
// 1. Sec-Fetch-Site present: only "same-origin" and "none" (typed by the
//    user) are allowed; "same-site", "cross-site" and anything else are not.
// 2. Else Origin present: "null", or a host:port other than Host, is refused.
// 3. Else Referer present: a host:port other than Host is refused.
// 4. None of them: allowed.
bool FromOtherSite(const RequestOrigin& origin);

// The headers of this run, from the CGI environment.
RequestOrigin CgiRequestOrigin();
