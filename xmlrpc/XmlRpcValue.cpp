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

static_assert(sizeof(XmlRpcValue) == 2 * sizeof(double), "a value is two words");

const char* XmlRpcValue::bytes() const {
  if (heldBytes_ > 0) return held_;
  return text_ == nullptr ? "" : text_ + sizeof(std::size_t);
}

std::size_t XmlRpcValue::byteCount() const {
  std::size_t size = 0;
  if (heldBytes_ > 0) return heldBytes_ - 1u;
  if (text_ != nullptr) std::memcpy(&size, text_, sizeof size);
  return size;
}

// A longer text is one block of its size and its bytes: a device list has
// some 80,000 strings, and a std::string on the heap would take two blocks for
// each longer one.
void XmlRpcValue::setBytes(const char* bytes, std::size_t size) {
  char* block = nullptr;
  if (size > sizeof held_) {
    block = static_cast<char*>(std::malloc(sizeof size + size));
    if (block == nullptr) throw std::bad_alloc();
    std::memcpy(block, &size, sizeof size);
    std::memcpy(block + sizeof size, bytes, size);
  }
  freeBytes();
  if (block != nullptr) {
    text_ = block;
  } else if (size > 0) {
    std::memcpy(held_, bytes, size);
    heldBytes_ = static_cast<unsigned char>(size + 1);
  }
}

void XmlRpcValue::freeBytes() noexcept {
  if (heldBytes_ == 0) std::free(text_);
  heldBytes_ = 0;
  text_ = nullptr;
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
  text_ = nullptr;
  setBytes(value.data(), value.size());
}
XmlRpcValue::XmlRpcValue(const char* value) : type_(TypeString) {
  text_ = nullptr;
  if (value) setBytes(value, std::strlen(value));
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
  text_ = nullptr;
  if (data) setBytes(static_cast<const char*>(data), size);
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

// The type and the storage as they stand, bit for bit: for the kinds kept on
// the heap that is the pointer, which the caller then owns (takeFrom) or
// replaces with a copy of what it points to (copyFrom).
void XmlRpcValue::shareFrom(const XmlRpcValue& other) noexcept {
  type_ = other.type_;
  heldBytes_ = other.heldBytes_;
  std::memcpy(held_, other.held_, sizeof held_);
}

void XmlRpcValue::copyFrom(const XmlRpcValue& other) {
  shareFrom(other);
  switch (type_) {
    case TypeString:
    case TypeBase64:
      if (heldBytes_ == 0 && text_ != nullptr) {
        text_ = nullptr;  // other's block
        setBytes(other.bytes(), other.byteCount());
      }
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
  other.heldBytes_ = 0;
  other.double_ = 0.0;
}

void XmlRpcValue::invalidate() {
  switch (type_) {
    case TypeString:
    case TypeBase64:
      freeBytes();
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
      return byteCount();
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
  out.assign(bytes(), byteCount());
  return true;
}

bool XmlRpcValue::getDateTime(std::tm& out) const {
  if (type_ != TypeDateTime) return false;
  out = *time_;
  return true;
}

bool XmlRpcValue::getBinary(BinaryData& out) const {
  if (type_ != TypeBase64) return false;
  out.assign(bytes(), byteCount());
  return true;
}

std::string XmlRpcValue::toText() const {
  // Sized first and written in place: a text grown by appending would take
  // up to three times its length while it grows, and a device list's text is
  // its largest piece.
  std::string text(textSize(), '\0');
  writeText(&text[0]);
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
      return byteCount() + 2;
    case TypeDateTime:
      return DateTimeText(*time_).size();
    case TypeBase64:
      return 4 * ((byteCount() + 2) / 3) + 2;
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

namespace {

char* Copied(char* out, const char* bytes, std::size_t size) {
  std::memcpy(out, bytes, size);
  return out + size;
}

char* Copied(char* out, const std::string& text) {
  return Copied(out, text.data(), text.size());
}

}  // namespace

char* XmlRpcValue::writeText(char* out) const {
  switch (type_) {
    case TypeInvalid:
      return out;
    case TypeNil:
      return Copied(out, "nil", 3);
    case TypeBoolean:
      return bool_ ? Copied(out, "true", 4) : Copied(out, "false", 5);
    case TypeInt:
      return std::to_chars(out, out + 16, int_).ptr;
    case TypeDouble:
      return Copied(out, DoubleText(double_));
    case TypeString:
      *out++ = '"';
      out = Copied(out, bytes(), byteCount());
      *out++ = '"';
      return out;
    case TypeDateTime:
      return Copied(out, DateTimeText(*time_));
    case TypeBase64:
      *out++ = '<';
      out = Copied(out, Base64Encode(std::string(bytes(), byteCount())));
      *out++ = '>';
      return out;
    case TypeArray: {
      *out++ = '{';
      bool first = true;
      for (const XmlRpcValue& element : arrayValue()) {
        if (!first) *out++ = ',';
        first = false;
        out = element.writeText(out);
      }
      *out++ = '}';
      return out;
    }
    case TypeStruct: {
      // std::map keeps the names in byte order.
      *out++ = '[';
      bool first = true;
      for (const auto& member : structValue()) {
        if (!first) *out++ = ',';
        first = false;
        out = Copied(out, member.first);
        *out++ = ':';
        out = member.second.writeText(out);
      }
      *out++ = ']';
      return out;
    }
  }
  return out;
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
      return size() == other.size() && std::memcmp(bytes(), other.bytes(), size()) == 0;
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
