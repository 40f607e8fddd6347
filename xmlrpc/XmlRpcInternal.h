// Helpers shared by the library's own files; not part of its interface.
#pragma once

#include <cstddef>
#include <ctime>
#include <memory>
#include <string>

#include "XmlRpc.h"

namespace XmlRpc {

// "YYYYMMDDTHH:MM:SS", the form dateTime.iso8601 values are sent in.
std::string DateTimeText(const std::tm& time);
// Reads "YYYYMMDDTHH:MM:SS" and the other ISO 8601 forms of a date and time
// (dashes, no colons, a fraction, a zone); false for anything else.
bool ParseDateTimeText(const std::string& text, std::tm& time);

// The value a reply's text of each scalar type (ISO-8859-1) stands for,
// blanks around a number, boolean or time aside; an empty value when the
// text is none of that type. An i8 beyond 32 bits is the nearest double.
XmlRpcValue ReadString(const std::string& text);
XmlRpcValue ReadInt(const std::string& text);
XmlRpcValue ReadI8(const std::string& text);
XmlRpcValue ReadDouble(const std::string& text);
XmlRpcValue ReadBoolean(const std::string& text);
XmlRpcValue ReadDateTime(const std::string& text);
XmlRpcValue ReadBase64(const std::string& text);
XmlRpcValue ReadNil(const std::string& text);

// Whether the text holds blanks only (space, tab, CR, LF). Inline: the reply
// reader asks it for every piece of text between elements.
inline bool IsBlank(const char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n') return false;
  }
  return true;
}
// The text without the blanks around it.
std::string Trimmed(const std::string& text);

std::string Base64Encode(const std::string& bytes);
// Ignores white space; false when the rest is not base64.
bool Base64Decode(const std::string& text, std::string& bytes);

// Turns the UTF-8 that expat hands out into ISO-8859-1, in place: a
// character beyond U+00FF becomes '?'.
void Latin1FromUtf8(std::string& text);

// The shortest decimal form that reads back as the same double.
std::string DoubleText(double value);
// The same without an exponent, as calls carry it.
std::string PlainDoubleText(double value);

// The reply reader fills a new array or struct in place: its values are
// moved in, never copied.
struct ValueAccess {
  static XmlRpcValue::ValueArray& Array(XmlRpcValue& value) {
    value.assertArray(0);
    if (!value.array_) value.array_ = new XmlRpcValue::ValueArray;
    return *value.array_;
  }
  static XmlRpcValue::ValueStruct& Members(XmlRpcValue& value) {
    value.assertStruct();
    if (!value.members_) value.members_ = new XmlRpcValue::ValueStruct;
    return *value.members_;
  }
};

// Reads one reply and builds its values while expat reads, so that no tree
// of its elements is kept. A reply whose length is known is gathered whole
// (expect, then feed) and read in one final call by finish; any other is read
// piece by piece as feed gets it. A reply of more values or text bytes than
// the bounds given is refused as soon as it passes them. expect, feed and
// failed never throw (they run inside curl's callback), and nothing unwinds
// through expat: memory that runs out while the reply is read refuses it.
// Making a reader and finish may throw std::bad_alloc, which execute and
// DecodeResponse catch.
class ReplyReader {
 public:
  explicit ReplyReader(std::size_t maxValues = XmlRpcClient::kDefaultMaxReplyValues,
                       std::size_t maxTextBytes = XmlRpcClient::kDefaultMaxReplyTextBytes);
  ~ReplyReader();
  ReplyReader(const ReplyReader&) = delete;
  ReplyReader& operator=(const ReplyReader&) = delete;

  // The reply is `size` bytes long: what feed gets is gathered for finish.
  void expect(std::size_t size);
  void feed(const char* data, std::size_t size);
  // The reply is refused already: the rest of it need not be read.
  bool failed() const;
  // Reads the rest and ends the reading: the response, or why it is refused.
  Outcome<Response> finish();

  struct State;  // the reader's own, in XmlRpcReply.cpp

 private:
  std::unique_ptr<State> state_;
};

}  // namespace XmlRpc
