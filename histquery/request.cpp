#include "histquery/request.h"

#include <cstdlib>
#include <cstring>

#include "common/textops.h"

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

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string FormDecoded(const std::string& text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      decoded += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      decoded += c;
    }
  }
  return decoded;
}

void DecodeSqlText(std::string& text) {
  text = FormDecoded(text);
  for (char& c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
}
