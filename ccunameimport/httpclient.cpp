#include "ccunameimport/httpclient.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "ccunameimport/texts.h"
#include "common/textops.h"

namespace {

// One chunk plus its terminating NUL; static, so one request at a time.
char chunkBuffer[kChunkSize + 1];

// After the time window closed on a receive that still brought data, the
// answer is complete only if the server has closed by now with nothing left
// unread. Looks without taking anything from the socket.
bool ServerStillSending(int socketFd) {
  char probe;
  return recv(socketFd, &probe, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
}

// printf of `format` with one %s into a new text.
std::string Formatted(const char* format, const std::string& text) {
  int size = std::snprintf(nullptr, 0, format, text.c_str());
  std::string formatted(static_cast<size_t>(size > 0 ? size : 0), '\0');
  std::snprintf(&formatted[0], formatted.size() + 1, format, text.c_str());
  return formatted;
}

}  // namespace

void SplitUrl(const std::string& url, std::string* host, std::string* path) {
  std::string rest = url;
  const size_t prefixLength = std::strlen(kHttpSchemePrefix);
  if (rest.compare(0, prefixLength, kHttpSchemePrefix) == 0) rest.erase(0, prefixLength);
  // Kept for compatibility: split from index 9, so callers' URLs go on the wire as before.
  int slash = FindCharFrom(rest.c_str(), '/', kHostPathSplitStart);
  if (slash >= 0) {
    *host = rest.substr(0, static_cast<size_t>(slash));
    *path = rest.substr(static_cast<size_t>(slash));
  } else {
    *host = rest;
    path->clear();
  }
}

std::string BuildRequestText(const std::string& method, const std::string& path,
                             const std::string& host, const std::string& contentType,
                             const std::string& body, bool withLength) {
  std::string request = method + " " + path + " HTTP/1.1\r\n";
  request += "Host: " + host + "\r\n";
  request += "Content-Type: " + contentType + "\r\n";
  if (withLength) {
    // No blank behind this colon, unlike the headers above; servers accept it.
    request += "Content-Length:" + IntToString(static_cast<int32_t>(body.size())) + "\r\n";
  }
  request += "\r\n";
  request += body;
  return request;
}

int ConnectToHost(const char* host, uint16_t port) {
  int socketFd = socket(AF_INET, SOCK_STREAM, 0);
  if (socketFd < 0) return kConnectNoSocket;
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  hostent* entry = gethostbyname(host);
  if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
    close(socketFd);
    return kConnectHostUnknown;
  }
  size_t length = static_cast<size_t>(entry->h_length);
  if (length > sizeof address.sin_addr) length = sizeof address.sin_addr;
  std::memcpy(&address.sin_addr, entry->h_addr_list[0], length);
  if (connect(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(socketFd);
    return kConnectFailed;
  }
  return socketFd;
}

int SendText(int socketFd, const char* text) {
  return static_cast<int>(send(socketFd, text, std::strlen(text), 0));
}

int ReceiveChunk(int socketFd, char* buffer, int size) {
  int received = static_cast<int>(recv(socketFd, buffer, static_cast<size_t>(size), MSG_NOSIGNAL));
  if (received < 0) {
    buffer[0] = '\0';
  } else {
    buffer[received] = '\0';
  }
  return received;
}

Result<HttpResponse, RequestFault> HttpRequest(const char* method, const char* url,
                                               const char* contentType, const char* body,
                                               uint16_t port, bool withLength) {
  std::string host;
  std::string path;
  SplitUrl(url, &host, &path);
  if (port == 0) port = kDefaultHttpPort;

  int socketFd = ConnectToHost(host.c_str(), port);
  if (socketFd <= 0) {
    return Failure<RequestFault>{RequestFault::NoConnection, Formatted(kMsgHostNotFound, host)};
  }
  timeval receiveTimeout;
  receiveTimeout.tv_sec = kReceiveTimeoutSeconds;
  receiveTimeout.tv_usec = 0;
  setsockopt(socketFd, SOL_SOCKET, SO_RCVTIMEO, &receiveTimeout, sizeof receiveTimeout);

  std::string request = BuildRequestText(method, path, host, contentType, body, withLength);
  if (SendText(socketFd, request.c_str()) <= 0) {
    close(socketFd);
    return Failure<RequestFault>{RequestFault::NotSent, Formatted(kMsgNoConnection, host)};
  }

  // Give the service time to run the script before the first receive.
  usleep(kSleepBeforeReceiveMicros);
  HttpResponse response;
  response.raw.reserve(kResponseBufferSize);
  int byteCount = 0;
  time_t deadline = time(nullptr) + kReceiveWindowSeconds;
  bool stop = false;
  int lastResult = 1;
  while (lastResult > 0 && !stop && time(nullptr) < deadline) {
    lastResult = ReceiveChunk(socketFd, chunkBuffer, kChunkSize);
    // The receive time-out (no data for 2 seconds) ends a complete answer of
    // a service that keeps the connection open; any other error cut it.
    if (lastResult < 0 && errno != EAGAIN && errno != EWOULDBLOCK) response.broken = true;
    if (lastResult + byteCount >= kResponseBufferSize) {
      stop = true;
    } else if (lastResult > 0) {
      // All bytes, a NUL too: the answer's framing counts them, and the
      // names behind a NUL are still names.
      response.raw.append(chunkBuffer, static_cast<size_t>(lastResult));
      byteCount += lastResult;
    }
    usleep(kSleepAfterReceiveMicros);
  }
  response.cut = stop || (lastResult > 0 && ServerStillSending(socketFd));
  close(socketFd);
  return response;
}
