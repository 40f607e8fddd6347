// The text forms of values: base64, dates and times and doubles written, the
// text of each type read as a reply carries it; and ISO-8859-1 from UTF-8.
#include <openssl/evp.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "XmlRpcInternal.h"

namespace XmlRpc {

std::string DoubleText(double value) {
  char buffer[40];
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
    if (std::strtod(buffer, nullptr) == value) break;
  }
  return buffer;
}

// Without an exponent, which the XML-RPC double does not allow; as short as
// reading it back to the same double permits.
std::string PlainDoubleText(double value) {
  std::vector<char> buffer(400);
  for (int precision = 0; precision <= 340; ++precision) {
    std::snprintf(buffer.data(), buffer.size(), "%.*f", precision, value);
    if (std::strtod(buffer.data(), nullptr) == value) break;
  }
  return buffer.data();
}

std::string DateTimeText(const std::tm& time) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02dT%02d:%02d:%02d", time.tm_year + 1900,
                time.tm_mon + 1, time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec);
  return buffer;
}

namespace {

// Reads `count` digits at `at` into `value`.
bool Digits(const std::string& text, std::size_t& at, std::size_t count, int& value) {
  if (text.size() - at < count) return false;
  value = 0;
  for (std::size_t end = at + count; at < end; ++at) {
    if (text[at] < '0' || text[at] > '9') return false;
    value = value * 10 + (text[at] - '0');
  }
  return true;
}

// Reads `separator` at `at` when `extended` (the form with separators).
bool Separator(const std::string& text, std::size_t& at, bool extended, char separator) {
  if (!extended) return true;
  if (at >= text.size() || text[at] != separator) return false;
  ++at;
  return true;
}

}  // namespace

// The ISO 8601 forms servers send: the date as YYYYMMDD or YYYY-MM-DD, "T",
// the time as HH:MM:SS or HHMMSS, then a fraction of a second (".5", ",5")
// and a zone ("Z", "+01", "+01:00", "-0130") if any. A value holds the wall
// time as written, year to second: the fraction and the zone are checked and
// left out, as a reader that knows no zone takes the time.
bool ParseDateTimeText(const std::string& text, std::tm& time) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::size_t at = 0;
  if (!Digits(text, at, 4, year)) return false;
  bool dashed = at < text.size() && text[at] == '-';
  if (!Separator(text, at, dashed, '-') || !Digits(text, at, 2, month) ||
      !Separator(text, at, dashed, '-') || !Digits(text, at, 2, day)) {
    return false;
  }
  if (at >= text.size() || text[at] != 'T') return false;
  ++at;
  if (!Digits(text, at, 2, hour)) return false;
  bool colons = at < text.size() && text[at] == ':';
  if (!Separator(text, at, colons, ':') || !Digits(text, at, 2, minute) ||
      !Separator(text, at, colons, ':') || !Digits(text, at, 2, second)) {
    return false;
  }
  if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
    ++at;
    std::size_t first = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    if (at == first) return false;
  }
  if (at < text.size() && text[at] == 'Z') {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    ++at;
    int zoneHour = 0, zoneMinute = 0;
    if (!Digits(text, at, 2, zoneHour) || zoneHour > 23) return false;
    if (at < text.size()) {
      bool zoneColon = text[at] == ':';
      if (!Separator(text, at, zoneColon, ':') || !Digits(text, at, 2, zoneMinute) ||
          zoneMinute > 59) {
        return false;
      }
    }
  }
  if (at != text.size()) return false;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  time = std::tm{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  return true;
}

// The programs work in ISO-8859-1. The ISO-8859-1 form is never longer.
void Latin1FromUtf8(std::string& text) {
  std::size_t size = text.size();
  // Most texts are ASCII: they are looked at eight bytes at a time and left.
  std::size_t out = 0;
  for (std::uint64_t bytes = 0; out + 8 <= size; out += 8) {
    std::memcpy(&bytes, text.data() + out, 8);
    if (bytes & 0x8080808080808080u) break;
  }
  while (out < size && static_cast<unsigned char>(text[out]) < 0x80) ++out;
  for (std::size_t i = out; i < size;) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      text[out++] = static_cast<char>(lead);
      i += 1;
    } else if ((lead & 0xE0) == 0xC0 && i + 1 < size) {
      unsigned code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      text[out++] = code <= 0xFF ? static_cast<char>(code) : '?';
      i += 2;
    } else {
      text[out++] = '?';
      i += (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
    }
  }
  text.resize(out);
}

std::string Base64Encode(const std::string& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]),
                               reinterpret_cast<const unsigned char*>(bytes.data()),
                               static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

bool Base64Decode(const std::string& text, std::string& bytes) {
  std::string compact;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') compact += c;
  }
  if (compact.size() % 4 != 0) return false;
  std::string out(compact.size() / 4 * 3 + 1, '\0');
  int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                               reinterpret_cast<const unsigned char*>(compact.data()),
                               static_cast<int>(compact.size()));
  if (length < 0) return false;
  // The block decoder counts the padding as zero bytes.
  std::size_t padding = 0;
  if (!compact.empty() && compact.back() == '=') ++padding;
  if (compact.size() > 1 && compact[compact.size() - 2] == '=') ++padding;
  out.resize(static_cast<std::size_t>(length) - padding);
  bytes = std::move(out);
  return true;
}

std::string Trimmed(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

XmlRpcValue ReadString(const std::string& text) {
  return XmlRpcValue(text);
}

namespace {

// The whole text, blanks around it aside, as a 64-bit integer.
bool ReadInteger(const std::string& text, long long& number) {
  std::string trimmed = Trimmed(text);
  char* end = nullptr;
  errno = 0;
  number = std::strtoll(trimmed.c_str(), &end, 10);
  return !trimmed.empty() && *end == '\0' && errno != ERANGE;
}

}  // namespace

XmlRpcValue ReadInt(const std::string& text) {
  long long number = 0;
  bool fits = ReadInteger(text, number) && number >= INT_MIN && number <= INT_MAX;
  return fits ? XmlRpcValue(static_cast<int>(number)) : XmlRpcValue();
}

XmlRpcValue ReadI8(const std::string& text) {
  long long number = 0;
  if (!ReadInteger(text, number)) return XmlRpcValue();
  if (number >= INT_MIN && number <= INT_MAX) return XmlRpcValue(static_cast<int>(number));
  // The value type has 32-bit integers only: a larger i8 is kept as the
  // nearest double (exact up to 2^53), as a reader of the text expects.
  return XmlRpcValue(static_cast<double>(number));
}

XmlRpcValue ReadDouble(const std::string& text) {
  std::string trimmed = Trimmed(text);
  char* end = nullptr;
  double number = std::strtod(trimmed.c_str(), &end);
  return trimmed.empty() || *end != '\0' ? XmlRpcValue() : XmlRpcValue(number);
}

XmlRpcValue ReadBoolean(const std::string& text) {
  std::string trimmed = Trimmed(text);
  return trimmed == "0" || trimmed == "1" ? XmlRpcValue(trimmed == "1") : XmlRpcValue();
}

XmlRpcValue ReadDateTime(const std::string& text) {
  std::tm time{};
  return ParseDateTimeText(Trimmed(text), time) ? XmlRpcValue(time) : XmlRpcValue();
}

XmlRpcValue ReadBase64(const std::string& text) {
  std::string bytes;
  if (!Base64Decode(text, bytes)) return XmlRpcValue();
  return XmlRpcValue(bytes.data(), bytes.size());
}

XmlRpcValue ReadNil(const std::string& text) {
  return IsBlank(text.data(), text.size()) ? XmlRpcValue::Nil() : XmlRpcValue();
}

}  // namespace XmlRpc
