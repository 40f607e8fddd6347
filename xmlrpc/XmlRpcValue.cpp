// The value model and its one-line text form.
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>

#include "XmlRpc.h"
#include "XmlRpcInternal.h"

namespace XmlRpc {

namespace {

const XmlRpcValue& EmptyValue() {
  static const XmlRpcValue empty;
  return empty;
}

// The decimal form of an int, as "%d" writes it; returns its length.
std::size_t IntText(int value, char (&buffer)[16]) {
  return static_cast<std::size_t>(std::to_chars(buffer, buffer + sizeof buffer, value).ptr -
                                  buffer);
}

}  // namespace

char* NewText(const char* bytes, std::size_t size) {
  if (size == 0) return nullptr;
  char* text = static_cast<char*>(std::malloc(sizeof(std::size_t) + size));
  if (text == nullptr) throw std::bad_alloc();
  std::memcpy(text, &size, sizeof size);
  std::memcpy(text + sizeof size, bytes, size);
  return text;
}

void FreeText(char* text) {
  std::free(text);
}

std::size_t TextSize(const char* text) {
  std::size_t size = 0;
  if (text != nullptr) std::memcpy(&size, text, sizeof size);
  return size;
}

const char* TextBytes(const char* text) {
  return text == nullptr ? "" : text + sizeof(std::size_t);
}

XmlRpcValue::XmlRpcValue() = default;
XmlRpcValue::XmlRpcValue(bool value) : type_(TypeBoolean) {
  bool_ = value;
}
XmlRpcValue::XmlRpcValue(int value) : type_(TypeInt) {
  int_ = value;
}
XmlRpcValue::XmlRpcValue(double value) : type_(TypeDouble), double_(value) {}
XmlRpcValue::XmlRpcValue(const std::string& value) : type_(TypeString) {
  text_ = NewText(value.data(), value.size());
}
XmlRpcValue::XmlRpcValue(const char* value) : type_(TypeString) {
  text_ = value ? NewText(value, std::strlen(value)) : nullptr;
}
XmlRpcValue::XmlRpcValue(const std::tm& value) : type_(TypeDateTime) {
  time_ = new std::tm{};
  time_->tm_year = value.tm_year;
  time_->tm_mon = value.tm_mon;
  time_->tm_mday = value.tm_mday;
  time_->tm_hour = value.tm_hour;
  time_->tm_min = value.tm_min;
  time_->tm_sec = value.tm_sec;
}
XmlRpcValue::XmlRpcValue(const void* data, std::size_t size) : type_(TypeBase64) {
  text_ = data ? NewText(static_cast<const char*>(data), size) : nullptr;
}

XmlRpcValue XmlRpcValue::Nil() {
  XmlRpcValue nil;
  nil.type_ = TypeNil;
  return nil;
}

XmlRpcValue::XmlRpcValue(const XmlRpcValue& other) {
  copyFrom(other);
}

XmlRpcValue::XmlRpcValue(XmlRpcValue&& other) noexcept {
  takeFrom(other);
}

XmlRpcValue& XmlRpcValue::operator=(const XmlRpcValue& other) {
  if (this != &other) {
    // `other` may live inside this value (an element of it): copy it first.
    XmlRpcValue copy(other);
    invalidate();
    takeFrom(copy);
  }
  return *this;
}

XmlRpcValue& XmlRpcValue::operator=(XmlRpcValue&& other) noexcept {
  if (this != &other) {
    XmlRpcValue taken(std::move(other));
    invalidate();
    takeFrom(taken);
  }
  return *this;
}

// The type and the storage as they stand: for the kinds kept on the heap that
// is the pointer, which the caller then owns (takeFrom) or replaces with a
// copy of what it points to (copyFrom).
void XmlRpcValue::shareFrom(const XmlRpcValue& other) noexcept {
  type_ = other.type_;
  switch (type_) {
    case TypeString:
    case TypeBase64:
      text_ = other.text_;
      break;
    case TypeDateTime:
      time_ = other.time_;
      break;
    case TypeArray:
      array_ = other.array_;
      break;
    case TypeStruct:
      members_ = other.members_;
      break;
    case TypeBoolean:
      bool_ = other.bool_;
      break;
    case TypeInt:
      int_ = other.int_;
      break;
    case TypeDouble:
      double_ = other.double_;
      break;
    case TypeInvalid:
    case TypeNil:
      break;
  }
}

void XmlRpcValue::copyFrom(const XmlRpcValue& other) {
  shareFrom(other);
  switch (type_) {
    case TypeString:
    case TypeBase64:
      text_ = NewText(TextBytes(text_), TextSize(text_));
      break;
    case TypeDateTime:
      time_ = new std::tm(*time_);
      break;
    case TypeArray:
      if (array_ != nullptr) array_ = new ValueArray(*array_);
      break;
    case TypeStruct:
      if (members_ != nullptr) members_ = new ValueStruct(*members_);
      break;
    default:
      break;
  }
}

void XmlRpcValue::takeFrom(XmlRpcValue& other) noexcept {
  shareFrom(other);
  other.type_ = TypeInvalid;  // what it held belongs to this value now
  other.double_ = 0.0;
}

void XmlRpcValue::invalidate() {
  switch (type_) {
    case TypeString:
    case TypeBase64:
      FreeText(text_);
      break;
    case TypeDateTime:
      delete time_;
      break;
    case TypeArray:
      delete array_;
      break;
    case TypeStruct:
      delete members_;
      break;
    default:
      break;
  }
  type_ = TypeInvalid;
  double_ = 0.0;
}

bool XmlRpcValue::assertTypeOrInvalid(Type type) {
  if (type_ == TypeInvalid && type != TypeInvalid) {
    if (type == TypeDateTime) {
      time_ = new std::tm{};
    } else if (type == TypeString || type == TypeBase64 || type == TypeArray ||
               type == TypeStruct) {
      text_ = nullptr;  // the empty one
    } else {
      double_ = 0.0;
    }
    type_ = type;
  }
  return type_ == type;
}

bool XmlRpcValue::assertArray(std::size_t size) {
  if (!assertTypeOrInvalid(TypeArray)) return false;
  if (size == 0) return true;
  if (!array_) array_ = new ValueArray;
  if (array_->size() < size) array_->resize(size);
  return true;
}

bool XmlRpcValue::assertStruct() {
  return assertTypeOrInvalid(TypeStruct);
}

std::size_t XmlRpcValue::size() const {
  switch (type_) {
    case TypeString:
    case TypeBase64:
      return TextSize(text_);
    case TypeArray:
      return array_ ? array_->size() : 0;
    case TypeStruct:
      return members_ ? members_->size() : 0;
    default:
      return 0;
  }
}

const XmlRpcValue::ValueArray& XmlRpcValue::arrayValue() const {
  static const ValueArray empty;
  return type_ == TypeArray && array_ ? *array_ : empty;
}

const XmlRpcValue::ValueStruct& XmlRpcValue::structValue() const {
  static const ValueStruct empty;
  return type_ == TypeStruct && members_ ? *members_ : empty;
}

XmlRpcValue& XmlRpcValue::operator[](std::size_t index) {
  if (type_ != TypeArray) invalidate();
  assertArray(index + 1);
  return (*array_)[index];
}

const XmlRpcValue& XmlRpcValue::operator[](std::size_t index) const {
  if (type_ != TypeArray || !array_ || index >= array_->size()) return EmptyValue();
  return (*array_)[index];
}

XmlRpcValue& XmlRpcValue::operator[](const std::string& name) {
  if (type_ != TypeStruct) invalidate();
  assertStruct();
  if (!members_) members_ = new ValueStruct;
  return (*members_)[name];
}

const XmlRpcValue& XmlRpcValue::operator[](const std::string& name) const {
  if (type_ != TypeStruct || !members_) return EmptyValue();
  auto found = members_->find(name);
  return found == members_->end() ? EmptyValue() : found->second;
}

bool XmlRpcValue::hasMember(const std::string& name) const {
  return type_ == TypeStruct && members_ && members_->count(name) > 0;
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
  out.assign(TextBytes(text_), TextSize(text_));
  return true;
}

bool XmlRpcValue::getDateTime(std::tm& out) const {
  if (type_ != TypeDateTime) return false;
  out = *time_;
  return true;
}

bool XmlRpcValue::getBinary(BinaryData& out) const {
  if (type_ != TypeBase64) return false;
  out.assign(TextBytes(text_), TextSize(text_));
  return true;
}

std::string XmlRpcValue::toText() const {
  // Sized first: a text grown by doubling would take up to three times its
  // length while it grows, and a device list's text is its largest piece.
  std::string text;
  text.reserve(textSize());
  appendText(text);
  return text;
}

std::size_t XmlRpcValue::textSize() const {
  switch (type_) {
    case TypeInvalid:
      return 0;
    case TypeNil:
      return 3;
    case TypeBoolean:
      return bool_ ? 4 : 5;
    case TypeInt: {
      char buffer[16];
      return IntText(int_, buffer);
    }
    case TypeDouble:
      return DoubleText(double_).size();
    case TypeString:
      return TextSize(text_) + 2;
    case TypeDateTime:
      return DateTimeText(*time_).size();
    case TypeBase64:
      return 4 * ((TextSize(text_) + 2) / 3) + 2;
    case TypeArray: {
      std::size_t size = 2;
      for (const XmlRpcValue& element : arrayValue()) size += element.textSize() + 1;
      return array_ && !array_->empty() ? size - 1 : size;
    }
    case TypeStruct: {
      std::size_t size = 2;
      for (const auto& member : structValue()) {
        size += member.first.size() + 1 + member.second.textSize() + 1;
      }
      return members_ && !members_->empty() ? size - 1 : size;
    }
  }
  return 0;
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
      out.append(buffer, IntText(int_, buffer));
      return;
    }
    case TypeDouble:
      out += DoubleText(double_);
      return;
    case TypeString:
      out += '"';
      out.append(TextBytes(text_), TextSize(text_));
      out += '"';
      return;
    case TypeDateTime:
      out += DateTimeText(*time_);
      return;
    case TypeBase64:
      out += '<';
      if (text_) out += Base64Encode(std::string(TextBytes(text_), TextSize(text_)));
      out += '>';
      return;
    case TypeArray: {
      out += '{';
      bool first = true;
      for (const XmlRpcValue& element : arrayValue()) {
        if (!first) out += ',';
        first = false;
        element.appendText(out);
      }
      out += '}';
      return;
    }
    case TypeStruct: {
      // std::map keeps the names in byte order.
      out += '[';
      bool first = true;
      for (const auto& member : structValue()) {
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
      return size() == other.size() &&
             std::memcmp(TextBytes(text_), TextBytes(other.text_), size()) == 0;
    case TypeDateTime:
      return DateTimeText(*time_) == DateTimeText(*other.time_);
    case TypeArray:
      return arrayValue() == other.arrayValue();
    case TypeStruct:
      return structValue() == other.structValue();
  }
  return false;
}

}  // namespace XmlRpc
