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

std::string Base64Encode(const std::string& bytes);
// Ignores white space; false when the rest is not base64.
bool Base64Decode(const std::string& text, std::string& bytes);

// The shortest decimal form that reads back as the same double.
std::string DoubleText(double value);
// The same without an exponent, as calls carry it.
std::string PlainDoubleText(double value);

// The reply reader fills values where they end up (an array element, a
// member, the result) instead of building each one and copying it there.
// Every value it fills is empty beforehand; a setter of another type frees
// what the value held, so a reply that gives one value two types leaks nothing.
struct ValueAccess {
  // String and base64 share their bytes: one may become the other.
  static void SetType(XmlRpcValue& value, XmlRpcValue::Type type) {
    bool bytes = type == XmlRpcValue::TypeString || type == XmlRpcValue::TypeBase64;
    bool hadBytes =
        value.type_ == XmlRpcValue::TypeString || value.type_ == XmlRpcValue::TypeBase64;
    if (value.type_ == type || (bytes && hadBytes)) {
      value.type_ = type;
      return;
    }
    value.invalidate();
    value.assertTypeOrInvalid(type);
  }
  static void SetBool(XmlRpcValue& value, bool b) {
    SetType(value, XmlRpcValue::TypeBoolean);
    value.bool_ = b;
  }
  static void SetInt(XmlRpcValue& value, int i) {
    SetType(value, XmlRpcValue::TypeInt);
    value.int_ = i;
  }
  static void SetDouble(XmlRpcValue& value, double d) {
    SetType(value, XmlRpcValue::TypeDouble);
    value.double_ = d;
  }
  static void SetDateTime(XmlRpcValue& value, const std::tm& time) { value = XmlRpcValue(time); }
  // Makes `value` a string (unless it is base64) holding `text`; an empty
  // text takes no memory of its own.
  static void SetText(XmlRpcValue& value, const std::string& text) {
    if (value.type_ != XmlRpcValue::TypeBase64) SetType(value, XmlRpcValue::TypeString);
    value.setBytes(text.data(), text.size());
  }
  // The elements of an array value, made so when it is not one.
  static XmlRpcValue::ValueArray& Array(XmlRpcValue& value) {
    SetType(value, XmlRpcValue::TypeArray);
    if (!value.array_) value.array_ = new XmlRpcValue::ValueArray;
    return *value.array_;
  }
  static XmlRpcValue::ValueStruct& Members(XmlRpcValue& value) {
    SetType(value, XmlRpcValue::TypeStruct);
    if (!value.members_) value.members_ = new XmlRpcValue::ValueStruct;
    return *value.members_;
  }
};

// Reads one reply and builds its values in `result` while expat reads, so
// that no tree of its elements is kept. A reply whose length is known is
// gathered whole (expect, then feed) and read in one final call by finish; any
// other is read piece by piece as feed gets it. A reply of more values or text
// bytes than the bounds given is refused as soon as it passes them. Until
// finish accepts the reply, `result` stays empty. expect, feed and failed
// never throw (they run inside curl's callback), and nothing unwinds through
// expat: memory that runs out while the reply is read refuses it. Making a
// reader and finish may throw std::bad_alloc, which execute and
// DecodeResponse catch.
class ReplyReader {
 public:
  explicit ReplyReader(XmlRpcValue& result,
                       std::size_t maxValues = XmlRpcClient::kDefaultMaxReplyValues,
                       std::size_t maxTextBytes = XmlRpcClient::kDefaultMaxReplyTextBytes);
  ~ReplyReader();
  ReplyReader(const ReplyReader&) = delete;
  ReplyReader& operator=(const ReplyReader&) = delete;

  // The reply is `size` bytes long: what feed gets is gathered for finish.
  void expect(std::size_t size);
  void feed(const char* data, std::size_t size);
  // The reply is refused already: the rest of it need not be read.
  bool failed() const;
  // Reads the rest and ends the reading; DecodeResponse's outcome.
  bool finish(bool& isFault, std::string& error);

  struct State;  // the reader's own, in XmlRpcReply.cpp

 private:
  std::unique_ptr<State> state_;
};

}  // namespace XmlRpc
