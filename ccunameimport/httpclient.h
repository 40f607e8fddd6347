// A minimal HTTP/1.1 client: one blocking request over a fresh TCP connection
// and a bounded receive loop that returns the raw response (status line,
// headers, blank line and body, exactly as received). One request at a time:
// the chunk buffer is process-wide.
#pragma once

#include <cstdint>
#include <string>

#include "common/result.h"

// Codes of ConnectToHost besides a descriptor.
constexpr int kConnectNoSocket = -102;
constexpr int kConnectHostUnknown = -108;
constexpr int kConnectFailed = -109;

// The raw response as received, and how receiving it ended, for callers
// that must tell a complete answer from a cut one.
struct HttpResponse {
  std::string raw;      // NUL bytes included; empty when nothing arrived
  bool cut = false;     // stopped at the size bound or at the time window while data was arriving
  bool broken = false;  // receiving ended in an error (a reset), not a close or a time-out
};

// Why a request brought no response at all.
enum class RequestFault {
  NoConnection,  // "Error - Host not found HOST": no socket, no address, no connection
  NotSent,       // "No connection to Host HOST": the request could not be sent
};

// Posts `body` with `method` to `url` on `port` (0 means 80): the response,
// or the failure with its message for the caller to print as it stands (it
// has no line break). Prints nothing. A Content-Length header is sent only
// when `withLength` is set.
Result<HttpResponse, RequestFault> HttpRequest(const char* method, const char* url,
                                               const char* contentType, const char* body,
                                               uint16_t port, bool withLength);

// Socket descriptor (> 0) connected to `host` (name or dotted address) on
// `port`, or one of the kConnect codes.
int ConnectToHost(const char* host, uint16_t port);

// One send of the whole text; send's result unchanged.
int SendText(int socketFd, const char* text);

// One recv of at most `size` bytes, NUL-terminated behind them (buffer made
// empty on error); recv's result unchanged. `buffer` holds size + 1 bytes.
int ReceiveChunk(int socketFd, char* buffer, int size);

// Host and path of `url`: an "http://" prefix is dropped, and the path starts
// at the first '/' from index 9 on (empty when there is none). A ":port"
// stays in the host.
void SplitUrl(const std::string& url, std::string* host, std::string* path);

// The request text as it goes on the wire.
std::string BuildRequestText(const std::string& method, const std::string& path,
                             const std::string& host, const std::string& contentType,
                             const std::string& body, bool withLength);
