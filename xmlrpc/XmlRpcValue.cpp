// The value model and its one-line text form.
#include <cstdio>

#include "XmlRpc.h"
#include "XmlRpcInternal.h"

namespace XmlRpc {

namespace {

const XmlRpcValue& EmptyValue() {
  static const XmlRpcValue empty;
  return empty;
}

}  // namespace

XmlRpcValue::XmlRpcValue() = default;
XmlRpcValue::XmlRpcValue(bool value) : type_(TypeBoolean), bool_(value) {}
XmlRpcValue::XmlRpcValue(int value) : type_(TypeInt), int_(value) {}
XmlRpcValue::XmlRpcValue(double value) : type_(TypeDouble), double_(value) {}
XmlRpcValue::XmlRpcValue(const std::string& value) : type_(TypeString), text_(value) {}
XmlRpcValue::XmlRpcValue(const char* value) : type_(TypeString), text_(value ? value : "") {}
XmlRpcValue::XmlRpcValue(const std::tm& value) : type_(TypeDateTime) {
  time_.tm_year = value.tm_year;
  time_.tm_mon = value.tm_mon;
  time_.tm_mday = value.tm_mday;
  time_.tm_hour = value.tm_hour;
  time_.tm_min = value.tm_min;
  time_.tm_sec = value.tm_sec;
}
XmlRpcValue::XmlRpcValue(const void* data, std::size_t size)
    : type_(TypeBase64), text_(static_cast<const char*>(data), size) {}

XmlRpcValue XmlRpcValue::Nil() {
  XmlRpcValue nil;
  nil.type_ = TypeNil;
  return nil;
}

void XmlRpcValue::invalidate() {
  type_ = TypeInvalid;
  bool_ = false;
  int_ = 0;
  double_ = 0.0;
  time_ = std::tm{};
  text_.clear();
  text_.shrink_to_fit();
  array_.clear();
  array_.shrink_to_fit();
  members_.clear();
}

bool XmlRpcValue::assertTypeOrInvalid(Type type) {
  if (type_ == TypeInvalid) type_ = type;
  return type_ == type;
}

bool XmlRpcValue::assertArray(std::size_t size) {
  if (!assertTypeOrInvalid(TypeArray)) return false;
  if (array_.size() < size) array_.resize(size);
  return true;
}

bool XmlRpcValue::assertStruct() {
  return assertTypeOrInvalid(TypeStruct);
}

std::size_t XmlRpcValue::size() const {
  switch (type_) {
    case TypeString:
    case TypeBase64:
      return text_.size();
    case TypeArray:
      return array_.size();
    case TypeStruct:
      return members_.size();
    default:
      return 0;
  }
}

XmlRpcValue& XmlRpcValue::operator[](std::size_t index) {
  if (type_ != TypeArray) invalidate();
  assertArray(index + 1);
  return array_[index];
}

const XmlRpcValue& XmlRpcValue::operator[](std::size_t index) const {
  if (type_ != TypeArray || index >= array_.size()) return EmptyValue();
  return array_[index];
}

XmlRpcValue& XmlRpcValue::operator[](const std::string& name) {
  if (type_ != TypeStruct) invalidate();
  assertStruct();
  return members_[name];
}

const XmlRpcValue& XmlRpcValue::operator[](const std::string& name) const {
  if (type_ != TypeStruct) return EmptyValue();
  auto found = members_.find(name);
  return found == members_.end() ? EmptyValue() : found->second;
}

bool XmlRpcValue::hasMember(const std::string& name) const {
  return type_ == TypeStruct && members_.count(name) > 0;
}

bool XmlRpcValue::getBool(bool& out) const {
  if (type_ != TypeBoolean) return false;
  out = bool_;
  return true;
}

bool XmlRpcValue::getInt(int& out) const {
  if (type_ != TypeInt) return false;
  out = int_;
  return true;
}

bool XmlRpcValue::getDouble(double& out) const {
  if (type_ == TypeInt) {
    out = int_;
    return true;
  }
  if (type_ != TypeDouble) return false;
  out = double_;
  return true;
}

bool XmlRpcValue::getString(std::string& out) const {
  if (type_ != TypeString) return false;
  out = text_;
  return true;
}

bool XmlRpcValue::getDateTime(std::tm& out) const {
  if (type_ != TypeDateTime) return false;
  out = time_;
  return true;
}

bool XmlRpcValue::getBinary(BinaryData& out) const {
  if (type_ != TypeBase64) return false;
  out = text_;
  return true;
}

std::string XmlRpcValue::toText() const {
  std::string text;
  appendText(text);
  return text;
}

void XmlRpcValue::appendText(std::string& out) const {
  switch (type_) {
    case TypeInvalid:
      return;
    case TypeNil:
      out += "nil";
      return;
    case TypeBoolean:
      out += bool_ ? "true" : "false";
      return;
    case TypeInt: {
      char buffer[16];
      int length = std::snprintf(buffer, sizeof buffer, "%d", int_);
      out.append(buffer, static_cast<std::size_t>(length));
      return;
    }
    case TypeDouble:
      out += DoubleText(double_);
      return;
    case TypeString:
      out += '"';
      out += text_;
      out += '"';
      return;
    case TypeDateTime:
      out += DateTimeText(time_);
      return;
    case TypeBase64:
      out += '<';
      out += Base64Encode(text_);
      out += '>';
      return;
    case TypeArray:
      out += '{';
      for (std::size_t i = 0; i < array_.size(); ++i) {
        if (i > 0) out += ',';
        array_[i].appendText(out);
      }
      out += '}';
      return;
    case TypeStruct: {
      // std::map keeps the names in byte order.
      out += '[';
      bool first = true;
      for (const auto& member : members_) {
        if (!first) out += ',';
        first = false;
        out += member.first;
        out += ':';
        member.second.appendText(out);
      }
      out += ']';
      return;
    }
  }
}

bool XmlRpcValue::operator==(const XmlRpcValue& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case TypeInvalid:
    case TypeNil:
      return true;
    case TypeBoolean:
      return bool_ == other.bool_;
    case TypeInt:
      return int_ == other.int_;
    case TypeDouble:
      return double_ == other.double_;
    case TypeString:
    case TypeBase64:
      return text_ == other.text_;
    case TypeDateTime:
      return DateTimeText(time_) == DateTimeText(other.time_);
    case TypeArray:
      return array_ == other.array_;
    case TypeStruct:
      return members_ == other.members_;
  }
  return false;
}

}  // namespace XmlRpc
