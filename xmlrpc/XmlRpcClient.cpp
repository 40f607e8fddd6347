// The client: the URL text, and one HTTP/1.1 POST per call through libcurl.
#include <curl/curl.h>

#include <cctype>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "XmlRpc.h"
#include "XmlRpcInternal.h"

namespace XmlRpc {

namespace {

const char kXmlRpcScheme[] = "xmlrpc://";
const char kHttpScheme[] = "http://";
const char kUserAgent[] = "User-Agent: XmlRpc/1.0";

void GlobalInitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  std::size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) !=
                                static_cast<unsigned char>(prefix[i])) {
      return false;
    }
  }
  return true;
}

struct CurlFree {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
  void operator()(char* text) const { curl_free(text); }
};
template <typename T>
using CurlOwned = std::unique_ptr<T, CurlFree>;

// The HTTP URL that `text` names, or "" when it names none. curl's own URL
// parser checks host, port and path, so nothing odd reaches the request.
std::string HttpUrlFor(const std::string& text) {
  std::string url;
  bool defaultServicePort = true;
  if (StartsWithNoCase(text, kXmlRpcScheme)) {
    url = kHttpScheme + text.substr(sizeof kXmlRpcScheme - 1);
  } else if (StartsWithNoCase(text, kHttpScheme)) {
    url = text;
    defaultServicePort = false;
  } else if (text.find("://") != std::string::npos) {
    return "";  // some other scheme
  } else {
    url = kHttpScheme + text;
  }
  for (char c : text) {
    if (static_cast<unsigned char>(c) <= ' ') return "";  // blanks and control characters
  }
  CurlOwned<CURLU> parts(curl_url());
  char* host = nullptr;
  char* port = nullptr;
  char* full = nullptr;
  if (!parts || curl_url_set(parts.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(parts.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK) {
    return "";
  }
  CurlOwned<char> ownedHost(host);
  if (!host || !*host) return "";
  bool havePort = curl_url_get(parts.get(), CURLUPART_PORT, &port, 0) == CURLUE_OK;
  CurlOwned<char> ownedPort(port);
  if (!havePort && defaultServicePort) {
    curl_url_set(parts.get(), CURLUPART_PORT, std::to_string(XmlRpcClient::kDefaultPort).c_str(),
                 0);
  }
  if (curl_url_get(parts.get(), CURLUPART_URL, &full, 0) != CURLUE_OK || !full) return "";
  CurlOwned<char> ownedFull(full);
  return full;
}

// A reply of announced length up to this is gathered and read whole, in one
// final call, where expat works about a sixth faster than on pieces; a longer
// or unannounced one is read piece by piece as it arrives, never held whole.
const curl_off_t kMaxWholeReplyBytes = 16 * 1024 * 1024;

// The header lines of a call; none when there is no memory for them.
CurlOwned<curl_slist> RequestHeaders() {
  CurlOwned<curl_slist> headers;
  for (const char* line : {"Content-Type: text/xml", kUserAgent, "Expect:"}) {
    curl_slist* longer = curl_slist_append(headers.get(), line);
    if (!longer) return nullptr;
    (void)headers.release();  // now part of the longer list
    headers.reset(longer);
  }
  return headers;
}

struct Reply {
  CURL* curl = nullptr;
  ReplyReader* reader = nullptr;
  std::size_t bytes = 0;
  std::size_t maxBytes = 0;
  bool started = false;  // the first bytes came: status and length are known
  bool read = false;     // status 200: the body is the reply
  bool tooLarge = false;
  bool refused = false;  // the reader refused it: the rest is not read
};

std::size_t OnReplyData(char* data, std::size_t size, std::size_t count, void* userData) {
  Reply& reply = *static_cast<Reply*>(userData);
  std::size_t length = size * count;
  if (length > reply.maxBytes - reply.bytes) {
    reply.tooLarge = true;
    return 0;  // makes curl end the transfer with an error
  }
  reply.bytes += length;
  if (!reply.started) {
    reply.started = true;
    // Another status fails the call whatever the body holds.
    long status = 0;
    curl_off_t announced = -1;
    curl_easy_getinfo(reply.curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(reply.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    reply.read = status == 200;
    if (reply.read && announced > 0 && announced <= kMaxWholeReplyBytes) {
      reply.reader->expect(static_cast<std::size_t>(announced));
    }
  }
  if (reply.read) {
    reply.reader->feed(data, length);
    if (reply.reader->failed()) {
      reply.refused = true;
      return 0;
    }
  }
  return length;
}

}  // namespace

XmlRpcClient::XmlRpcClient(const std::string& url) : httpUrl_(HttpUrlFor(url)) {
  GlobalInitOnce();
  if (httpUrl_.empty()) error_ = "unusable URL \"" + url + "\"";
}

XmlRpcClient::~XmlRpcClient() = default;

void XmlRpcClient::setTimeouts(long connectSeconds, long totalSeconds) {
  connectTimeout_ = connectSeconds;
  totalTimeout_ = totalSeconds;
}

void XmlRpcClient::setMaxReplyBytes(std::size_t maxBytes) {
  maxReplyBytes_ = maxBytes;
}

void XmlRpcClient::setMaxReplyValues(std::size_t maxValues) {
  maxReplyValues_ = maxValues;
}

void XmlRpcClient::setMaxReplyTextBytes(std::size_t maxBytes) {
  maxReplyTextBytes_ = maxBytes;
}

bool XmlRpcClient::execute(const std::string& method, const XmlRpcValue& params,
                           XmlRpcValue& result) {
  result.invalidate();
  isFault_ = false;
  if (httpUrl_.empty()) return false;  // error_ was set on construction
  try {
    Outcome<std::string> request = EncodeCall(method, params);
    if (!request.ok()) {
      error_ = request.error();
      return false;
    }
    CurlOwned<CURL> curl(curl_easy_init());
    CurlOwned<curl_slist> headers = RequestHeaders();
    if (!curl || !headers) {
      error_ = "cannot start a transfer";
      return false;
    }
    ReplyReader reader(maxReplyValues_, maxReplyTextBytes_);
    Reply reply;
    reply.curl = curl.get();
    reply.reader = &reader;
    reply.maxBytes = maxReplyBytes_;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, httpUrl_.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.value().data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.value().size()));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");  // the services are reached directly
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, connectTimeout_);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, totalTimeout_);
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxReplyBytes_));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnReplyData);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply);
    CURLcode code = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);

    // A reply the reader refused ended the transfer: the reader's reason
    // counts, which finish gives.
    if (!reply.refused && (reply.tooLarge || code == CURLE_FILESIZE_EXCEEDED)) {
      error_ = "reply larger than " + std::to_string(maxReplyBytes_) + " bytes";
      return false;
    }
    if (!reply.refused && code != CURLE_OK) {
      error_ = curl_easy_strerror(code);
      return false;
    }
    if (!reply.refused && status != 200) {
      error_ = "HTTP status " + std::to_string(status);
      return false;
    }
    Outcome<Response> response = reader.finish();
    if (!response.ok()) {
      error_ = response.error();
      return false;
    }
    result = std::move(response.value().value);
    isFault_ = response.value().isFault;
    return true;
  } catch (const std::bad_alloc&) {
    error_ = "out of memory";
    return false;
  }
}

}  // namespace XmlRpc
