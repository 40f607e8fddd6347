// The text functions on input split into their arguments, each result held
// against a plain restatement of its contract.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/textops.h"
#include "fuzzsupport.h"

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> fields(1);
  for (char c : text) {
    if (c == separator)
      fields.emplace_back();
    else
      fields.back() += c;
  }
  return fields;
}

std::string ReplacedByScan(const std::string& text, const std::string& search,
                           const std::string& replacement) {
  if (search.empty()) return text;
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text.compare(i, search.size(), search) == 0) {
      out += replacement;
      i += search.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

unsigned char UpperByte(unsigned char b) {
  if (b >= 'a' && b <= 'z') return static_cast<unsigned char>(b - 32);
  if (b == 0xE4 || b == 0xF6 || b == 0xFC) return static_cast<unsigned char>(b - 32);
  return b;
}

void CheckGetKeyValue(const std::string& key, const std::string& source, char separator) {
  std::string value = GetKeyValue(key, source, separator);
  Require(value.find(separator) == std::string::npos, "GetKeyValue: value holds the separator");
  if (source.compare(0, key.size(), key) == 0) {
    Require(value == Split(source.substr(key.size()), separator)[0],
            "GetKeyValue: key at the start gives the wrong value");
  } else if (!value.empty()) {
    Require(source.find(separator + key + value) != std::string::npos,
            "GetKeyValue: value not behind separator and key");
  }
}

void CheckGetField(const std::string& source, int fieldNumber, char separator) {
  std::vector<std::string> fields = Split(source, separator);
  size_t index = fieldNumber < 1 ? 0 : static_cast<size_t>(fieldNumber - 1);
  std::string expected = index < fields.size() ? fields[index] : "";
  Require(GetField(source, fieldNumber, separator) == expected, "GetField: wrong field");
}

void CheckFindCharFrom(const std::string& text, char ch, int start) {
  const char* chars = text.c_str();
  int length = static_cast<int>(std::strlen(chars));
  int expected = -1;
  for (int i = start < 0 ? length : start; i < length; ++i) {
    if (chars[i] == ch) {
      expected = i;
      break;
    }
  }
  Require(FindCharFrom(chars, ch, start) == expected, "FindCharFrom: wrong index");
  Require(FindCharFrom(nullptr, ch, start) == -1, "FindCharFrom: null text found something");
}

void CheckUpperCase(const std::string& text) {
  std::string upper = UpperCase(text);
  Require(upper.size() == text.size(), "UpperCase: length changed");
  for (size_t i = 0; i < text.size(); ++i) {
    Require(static_cast<unsigned char>(upper[i]) == UpperByte(static_cast<unsigned char>(text[i])),
            "UpperCase: wrong byte");
  }
}

void CheckSqlQuoted(const std::string& text) {
  std::string quoted = SqlQuoted(text);
  std::string back = quoted;
  ReplaceAll(back, "''", "'");
  Require(back == text, "SqlQuoted: undoubling does not give the text back");
  Require(IsOneHistoryStatement(
              "select * from HISTORY where ObjName = '" +
              SqlQuoted(UpToNul(reinterpret_cast<const uint8_t*>(text.data()), text.size())) + "'"),
          "SqlQuoted: the literal does not hold the text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  char separator = input.ConsumeIntegral<char>();
  int fieldNumber = input.ConsumeIntegralInRange<int>(-2, 40);
  int start = input.ConsumeIntegralInRange<int>(-2, 300);
  int32_t number = input.ConsumeIntegral<int32_t>();
  std::string key = input.ConsumeRandomLengthString(32);
  std::string search = input.ConsumeRandomLengthString(16);
  std::string replacement = input.ConsumeRandomLengthString(16);
  std::string source = input.ConsumeRemainingBytesAsString();

  Require(IntToString(number) == std::to_string(number), "IntToString: wrong digits");
  CheckGetKeyValue(key, source, separator);
  CheckGetField(source, fieldNumber, separator);
  CheckFindCharFrom(source, separator, start);
  CheckUpperCase(source);
  CheckSqlQuoted(source);

  std::string replaced = source;
  ReplaceAll(replaced, search, replacement);
  Require(replaced == ReplacedByScan(source, search, replacement), "ReplaceAll: wrong text");
  return 0;
}
