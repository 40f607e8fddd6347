// Taking the request from the CGI environment.
#pragma once

#include <cstdio>
#include <string>

// A POST body above this is not a request of the front end: it is handled as
// an empty request and never read into memory.
constexpr long kMaxPostBody = 256 * 1024;

// The request text: the POST body or the GET query string; empty for any
// other method or when nothing usable arrived.
std::string ReadRequest();

// CONTENT_LENGTH bytes of `in`, or an empty text when the length is missing,
// not positive, too large, or more than the bytes that arrived.
std::string ReadPostBody(FILE* in);

// The fixed decoding of the free SQL text: only the codes the front end's SQL
// page produces, upper-case hex only, and "+" as a blank.
void DecodeSqlText(std::string& text);
