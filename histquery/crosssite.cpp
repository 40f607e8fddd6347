#include "histquery/crosssite.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/textops.h"

namespace {

bool Present(const char* value) {
  return value != nullptr && value[0] != '\0';
}

// host[:port] without the port a scheme implies, lower-cased, so that
// "http://Box:80" and a Host of "box" name the same place.
std::string Authority(std::string authority, const std::string& scheme) {
  authority = LowerCase(authority);
  const char* implied = scheme == "https" ? ":443" : scheme == "http" ? ":80" : nullptr;
  if (implied != nullptr && authority.size() > std::strlen(implied) &&
      authority.compare(authority.size() - std::strlen(implied), std::string::npos, implied) == 0)
    authority.resize(authority.size() - std::strlen(implied));
  return authority;
}

// Whether the URL (an Origin or a Referer) names the host and port of `host`;
// false for anything that is no scheme://authority URL.
bool SameAuthority(const std::string& url, const char* host) {
  if (!Present(host)) return false;
  size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos || schemeEnd == 0) return false;
  std::string scheme = LowerCase(url.substr(0, schemeEnd));
  size_t begin = schemeEnd + 3;
  size_t end = url.find_first_of("/?#", begin);
  std::string authority = url.substr(begin, end == std::string::npos ? end : end - begin);
  // A user part ("http://box@evil") names evil, not box.
  if (authority.empty() || authority.find('@') != std::string::npos) return false;
  return Authority(authority, scheme) == Authority(host, scheme);
}

}  // namespace

bool FromOwnPage(const RequestOrigin& request) {
  if (Present(request.secFetchSite)) return std::string(request.secFetchSite) == "same-origin";
  if (Present(request.origin)) return SameAuthority(request.origin, request.host);
  if (Present(request.referer)) return SameAuthority(request.referer, request.host);
  return false;
}

RequestOrigin CgiRequestOrigin() {
  RequestOrigin origin;
  origin.secFetchSite = std::getenv("HTTP_SEC_FETCH_SITE");
  origin.origin = std::getenv("HTTP_ORIGIN");
  origin.host = std::getenv("HTTP_HOST");
  origin.referer = std::getenv("HTTP_REFERER");
  return origin;
}
