// Helpers shared by the library's own files; not part of its interface.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

#include "XmlRpc.h"

namespace XmlRpc {

// "YYYYMMDDTHH:MM:SS", the form dateTime.iso8601 values are sent in.
std::string DateTimeText(const std::tm& time);
// Reads "YYYYMMDDTHH:MM:SS" or "YYYY-MM-DDTHH:MM:SS"; false for anything else.
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
// Every value it fills is empty beforehand.
struct ValueAccess {
  static void SetType(XmlRpcValue& value, XmlRpcValue::Type type) { value.type_ = type; }
  static void SetBool(XmlRpcValue& value, bool b) {
    value.type_ = XmlRpcValue::TypeBoolean;
    value.bool_ = b;
  }
  static void SetInt(XmlRpcValue& value, int i) {
    value.type_ = XmlRpcValue::TypeInt;
    value.int_ = i;
  }
  static void SetDouble(XmlRpcValue& value, double d) {
    value.type_ = XmlRpcValue::TypeDouble;
    value.double_ = d;
  }
  static void SetDateTime(XmlRpcValue& value, const std::tm& time) { value = XmlRpcValue(time); }
  // The bytes of a string or base64 value.
  static std::string& Text(XmlRpcValue& value) { return value.text_; }
  static XmlRpcValue::ValueArray& Array(XmlRpcValue& value) { return value.array_; }
  static XmlRpcValue::ValueStruct& Members(XmlRpcValue& value) { return value.members_; }
};

// Reads a reply piece by piece as it arrives, building the values while
// expat reads, so that neither the whole body nor a tree of its elements has
// to be held. StartReply empties `result` and fills it as the reply is read;
// FeedReply takes the next piece (`last` for the final one, which may be
// empty); FinishReply (or DiscardReply, when the reply is not wanted after
// all) ends the reading and frees the reader. FinishReply's outcome is
// DecodeResponse's; on failure `result` is empty again.
struct ReplyReader;
ReplyReader* StartReply(XmlRpcValue& result);
void FeedReply(ReplyReader* reader, const char* data, std::size_t size, bool last);
bool FinishReply(ReplyReader* reader, bool& isFault, std::string& error);
void DiscardReply(ReplyReader* reader);

}  // namespace XmlRpc
