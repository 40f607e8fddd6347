#include "histquery/viewtext.h"

#include <charconv>
#include <cmath>

#include "common/datetime.h"
#include "common/textops.h"

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Where a spreadsheet starts a formula (or, for tab and CR, may skip to one).
bool StartsFormula(char c) {
  return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

// The UTF-8 bytes of one ISO-8859-15 byte of 0x80 or above into `out`;
// returns their count (2 or 3).
size_t Latin9Utf8(unsigned char c, char out[3]) {
  unsigned codePoint = c;
  switch (c) {
    case 0xA4:
      codePoint = 0x20AC;  // euro sign
      break;
    case 0xA6:
      codePoint = 0x0160;
      break;
    case 0xA8:
      codePoint = 0x0161;
      break;
    case 0xB4:
      codePoint = 0x017D;
      break;
    case 0xB8:
      codePoint = 0x017E;
      break;
    case 0xBC:
      codePoint = 0x0152;
      break;
    case 0xBD:
      codePoint = 0x0153;
      break;
    case 0xBE:
      codePoint = 0x0178;
      break;
    default:
      break;
  }
  if (codePoint < 0x800) {
    out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
    out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
  out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
  return 3;
}

// Writes `text` as UTF-8, with `escape` deciding for each ASCII byte whether
// it needs a replacement (written into its buffer, length returned) or goes
// out as it is (0). Runs of plain bytes go out in one write.
template <typename Escape>
void WriteConverted(FILE* out, const char* text, size_t length, Escape escape) {
  size_t run = 0;
  char replacement[8];
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t size = c >= 0x80 ? Latin9Utf8(c, replacement) : escape(c, replacement);
    if (size == 0) continue;
    std::fwrite(text + run, 1, i - run, out);
    std::fwrite(replacement, 1, size, out);
    run = i + 1;
  }
  std::fwrite(text + run, 1, length - run, out);
}

size_t NoEscape(unsigned char, char*) {
  return 0;
}

size_t JsonEscape(unsigned char c, char* out) {
  static const char kHex[] = "0123456789abcdef";
  const char* named = nullptr;
  switch (c) {
    case '"':
      named = "\\\"";
      break;
    case '\\':
      named = "\\\\";
      break;
    case '\n':
      named = "\\n";
      break;
    case '\r':
      named = "\\r";
      break;
    case '\t':
      named = "\\t";
      break;
    case '\b':
      named = "\\b";
      break;
    case '\f':
      named = "\\f";
      break;
    default:
      if (c >= 0x20) return 0;
      out[0] = '\\';
      out[1] = 'u';
      out[2] = '0';
      out[3] = '0';
      out[4] = kHex[c >> 4];
      out[5] = kHex[c & 0x0F];
      return 6;
  }
  out[0] = named[0];
  out[1] = named[1];
  return 2;
}

size_t CsvQuoteEscape(unsigned char c, char* out) {
  if (c != '"') return 0;
  out[0] = '"';
  out[1] = '"';
  return 2;
}

// The number part of a text that ReadValueNumber accepts: [begin, end)
// without the blanks around it.
bool NumberSpan(const char* text, size_t length, double& value, size_t& begin, size_t& end) {
  if (text == nullptr) return false;
  begin = 0;
  end = length;
  while (begin < end && IsSpaceOrTab(text[begin])) ++begin;
  while (end > begin && IsSpaceOrTab(text[end - 1])) --end;
  size_t digits = begin;
  bool negative = false;
  if (digits < end && (text[digits] == '+' || text[digits] == '-')) {
    negative = text[digits] == '-';
    ++digits;
  }
  // from_chars alone would also take "inf", "nan" and a second sign.
  if (digits == end || !(IsDigit(text[digits]) || text[digits] == '.')) return false;
  double parsed = 0;
  std::from_chars_result result =
      std::from_chars(text + digits, text + end, parsed, std::chars_format::general);
  if (result.ec != std::errc() || result.ptr != text + end || !std::isfinite(parsed)) return false;
  value = negative ? -parsed : parsed;
  return true;
}

}  // namespace

bool ReadValueNumber(const char* text, size_t length, double& value) {
  size_t begin, end;
  return NumberSpan(text, length, value, begin, end);
}

void WriteUtf8(FILE* out, const char* text, size_t length) {
  WriteConverted(out, text, length, NoEscape);
}

void WriteJsonString(FILE* out, const char* text, size_t length) {
  std::fputc('"', out);
  WriteConverted(out, text, length, JsonEscape);
  std::fputc('"', out);
}

void WriteJsonNumber(FILE* out, double value) {
  if (!std::isfinite(value)) {
    std::fputs("null", out);
    return;
  }
  char digits[32];
  std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
  std::fwrite(digits, 1, static_cast<size_t>(result.ptr - digits), out);
}

void WriteJsonTime(FILE* out, int32_t time) {
  char digits[16];
  std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, time);
  std::fwrite(digits, 1, static_cast<size_t>(result.ptr - digits), out);
}

void WriteCsvText(FILE* out, const char* text, size_t length) {
  if (text == nullptr) return;
  bool quoted = false;
  for (size_t i = 0; i < length && !quoted; ++i) {
    char c = text[i];
    quoted = c == ';' || c == ',' || c == '"' || c == '\r' || c == '\n';
  }
  // A spreadsheet reads past blanks at the start of a field as well.
  size_t first = 0;
  while (first < length && text[first] == ' ') ++first;
  double number;
  bool formula =
      first < length && StartsFormula(text[first]) && !ReadValueNumber(text, length, number);
  if (quoted) std::fputc('"', out);
  if (formula) std::fputc('\'', out);
  WriteConverted(out, text, length, CsvQuoteEscape);
  if (quoted) std::fputc('"', out);
}

void WriteCsvValue(FILE* out, const char* text, size_t length) {
  double number;
  size_t begin, end;
  if (!NumberSpan(text, length, number, begin, end)) {
    WriteCsvText(out, text, length);
    return;
  }
  // The recorded digits, not a reformatted double: "21.50" stays two places.
  for (size_t i = begin; i < end; ++i) std::fputc(text[i] == '.' ? ',' : text[i], out);
}

void WriteCsvTime(FILE* out, int32_t time) {
  char text[kTimestampTextSize];
  size_t length = FormatTimestampInto(text, time, TimestampForm::Report);
  std::fwrite(text, 1, length, out);
}
