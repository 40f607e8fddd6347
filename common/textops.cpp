#include "common/textops.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

std::string IntToString(int32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%i", static_cast<int>(value));
  return buffer;
}

std::string UpperCase(std::string text) {
  for (char& c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z') {
      b = static_cast<unsigned char>(b - 'a' + 'A');
    } else if (b == 0xE4) {
      b = 0xC4;
    } else if (b == 0xF6) {
      b = 0xD6;
    } else if (b == 0xFC) {
      b = 0xDC;
    }
    c = static_cast<char>(b);
  }
  return text;
}

std::string GetKeyValue(std::string key, std::string source, char separator) {
  size_t at = source.find(key);
  if (at == std::string::npos) return "";
  if (at != 0) {
    key.insert(key.begin(), separator);
    at = source.find(key);
    if (at == std::string::npos) return "";
  }
  size_t begin = at + key.size();
  size_t end = source.find(separator, begin);
  if (end == std::string::npos) end = source.size();
  return source.substr(begin, end - begin);
}

std::string GetField(std::string source, int fieldNumber, char separator) {
  size_t begin = 0;
  for (int n = 2; n <= fieldNumber; ++n) {
    size_t sep = source.find(separator, begin);
    if (sep == std::string::npos) return "";
    begin = sep + 1;
  }
  size_t end = source.find(separator, begin);
  if (end == std::string::npos) end = source.size();
  return source.substr(begin, end - begin);
}

void ReplaceAll(std::string& text, const std::string& search, const std::string& replacement) {
  if (search.empty()) return;
  size_t at = 0;
  while ((at = text.find(search, at)) != std::string::npos) {
    text.replace(at, search.size(), replacement);
    at += replacement.size();
  }
}

int FindCharFrom(const char* chars, char ch, int start) {
  if (chars == nullptr || start < 0) return -1;
  size_t length = std::strlen(chars);
  for (size_t i = static_cast<size_t>(start); i < length; ++i) {
    if (chars[i] == ch) return static_cast<int>(i);
  }
  return -1;
}

std::string SqlQuoted(const std::string& text) {
  std::string quoted = text;
  ReplaceAll(quoted, "'", "''");
  return quoted;
}

std::string TextPiece(const std::string& text, size_t begin, size_t count) {
  return begin < text.size() ? text.substr(begin, count) : std::string();
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string Formatted(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, again);
  va_end(again);
  return text;
}

std::string LowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  size_t begin = text.find_first_not_of(blanks);
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
}

bool IsSqlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsSpaceOrTab(char c) {
  return c == ' ' || c == '\t';
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
