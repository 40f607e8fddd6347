#include "histquery/request.h"

#include <cstdlib>
#include <cstring>

#include "common/strings.h"

std::string ReadRequest() {
  const char* method = std::getenv("REQUEST_METHOD");
  if (method == nullptr) return "";
  if (std::strcmp(method, "POST") == 0) return ReadPostBody(stdin);
  if (std::strcmp(method, "GET") == 0) {
    const char* query = std::getenv("QUERY_STRING");
    return query != nullptr ? query : "";
  }
  return "";
}

std::string ReadPostBody(FILE* in) {
  const char* lengthText = std::getenv("CONTENT_LENGTH");
  if (lengthText == nullptr) return "";
  // The leading number as atoi reads it, but without its overflow.
  long long length = std::strtoll(lengthText, nullptr, 10);
  if (length <= 0 || length > kMaxPostBody) return "";
  std::string body(static_cast<size_t>(length), '\0');
  if (std::fread(&body[0], 1, body.size(), in) != body.size()) return "";
  // The body counts up to its first NUL byte.
  body.resize(std::strlen(body.c_str()));
  return body;
}

void DecodeSqlText(std::string& text) {
  static const char* const kCodes[][2] = {
      {"%20", " "}, {"%27", "'"}, {"%22", "\""}, {"%3D", "="}, {"%3E", ">"}, {"%3C", "<"},
      {"%2C", ","}, {"%28", "("}, {"%29", ")"},  {"%21", "!"}, {"+", " "},
  };
  for (const auto& code : kCodes) ReplaceAll(text, code[0], code[1]);
}
