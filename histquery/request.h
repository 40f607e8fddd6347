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

// A value as a browser's form encoding sent it: "%XX" (hex digits of either
// case) is that byte, "+" is a blank, in one pass; a "%" without two hex
// digits behind it stays as it is.
std::string FormDecoded(const std::string& text);

// The free SQL text, form-decoded; control bytes (line feeds and tabs of a
// text area among them) become blanks, so the text is one line in
// histsql.dat and on the page.
void DecodeSqlText(std::string& text);
