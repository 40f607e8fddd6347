// The client: the URL text, and one HTTP/1.1 POST per call through libcurl.
#include <curl/curl.h>

#include <cctype>
#include <mutex>

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
  CURLU* parts = curl_url();
  if (!parts) return "";
  std::string result;
  char* host = nullptr;
  char* port = nullptr;
  if (curl_url_set(parts, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
      curl_url_get(parts, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host) {
    bool havePort = curl_url_get(parts, CURLUPART_PORT, &port, 0) == CURLUE_OK;
    if (!havePort && defaultServicePort) {
      curl_url_set(parts, CURLUPART_PORT, std::to_string(XmlRpcClient::kDefaultPort).c_str(), 0);
    }
    char* full = nullptr;
    if (curl_url_get(parts, CURLUPART_URL, &full, 0) == CURLUE_OK && full) result = full;
    curl_free(full);
  }
  curl_free(host);
  curl_free(port);
  curl_url_cleanup(parts);
  return result;
}

// The reply is read while it arrives; its body is never held as a whole.
struct Reply {
  CURL* curl = nullptr;
  ReplyReader* reader = nullptr;
  std::size_t bytes = 0;
  std::size_t maxBytes = 0;
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
  // Another status fails the call whatever the body holds.
  long status = 0;
  curl_easy_getinfo(reply.curl, CURLINFO_RESPONSE_CODE, &status);
  if (status == 200) {
    FeedReply(reply.reader, data, length, false);
    if (ReplyFailed(reply.reader)) {
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
  std::string request;
  if (!EncodeCall(method, params, request, error_)) return false;

  CURL* curl = curl_easy_init();
  if (!curl) {
    error_ = "cannot start a transfer";
    return false;
  }
  Reply reply;
  reply.curl = curl;
  reply.reader = StartReply(result, maxReplyValues_, maxReplyTextBytes_);
  reply.maxBytes = maxReplyBytes_;
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Content-Type: text/xml");
  headers = curl_slist_append(headers, kUserAgent);
  headers = curl_slist_append(headers, "Expect:");  // no 100-continue round trip
  curl_easy_setopt(curl, CURLOPT_URL, httpUrl_.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.size()));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");  // the services are reached directly
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectTimeout_);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, totalTimeout_);
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxReplyBytes_));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnReplyData);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);

  if (reply.refused) {
    bool fault = false;
    FinishReply(reply.reader, fault, error_);  // false, with the reader's reason
    return false;
  } else if (reply.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
    error_ = "reply larger than " + std::to_string(maxReplyBytes_) + " bytes";
  } else if (code != CURLE_OK) {
    error_ = curl_easy_strerror(code);
  } else if (status != 200) {
    error_ = "HTTP status " + std::to_string(status);
  } else {
    bool fault = false;
    if (!FinishReply(reply.reader, fault, error_)) return false;
    isFault_ = fault;
    error_.clear();
    return true;
  }
  DiscardReply(reply.reader);
  return false;
}

}  // namespace XmlRpc
