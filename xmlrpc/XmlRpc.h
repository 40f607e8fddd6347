// XML-RPC client library: values, the XML of calls and replies, and a client
// that posts one call per execute over HTTP/1.1.
//
// Texts are byte strings in ISO-8859-1, the form the programs use: requests
// declare that encoding, and reply strings are turned from the parser's
// UTF-8 back into ISO-8859-1 (a character beyond U+00FF becomes '?').
// Calls and replies never throw: execute, EncodeCall and DecodeResponse
// report every failure, running out of memory included, as a return value:
// execute as false with lastError(), the others as an Outcome.
// Values are made of the standard containers and, like them, throw
// std::bad_alloc when memory runs out while one is built or copied.
#pragma once

#include <cstddef>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace XmlRpc {

class XmlRpcValue {
 public:
  enum Type {
    TypeInvalid,
    TypeBoolean,
    TypeInt,
    TypeDouble,
    TypeString,
    TypeDateTime,
    TypeBase64,
    TypeArray,
    TypeStruct,
    TypeNil
  };
  using BinaryData = std::string;
  using ValueArray = std::vector<XmlRpcValue>;
  using ValueStruct = std::map<std::string, XmlRpcValue>;

  // An empty (invalid) value: it takes a type by assignment, assertArray,
  // assertStruct or assertTypeOrInvalid.
  XmlRpcValue();
  XmlRpcValue(bool value);
  XmlRpcValue(int value);
  XmlRpcValue(double value);
  XmlRpcValue(const std::string& value);
  // Without this a literal would pick the bool constructor.
  XmlRpcValue(const char* value);
  // A dateTime.iso8601 value; only the fields year to second count.
  explicit XmlRpcValue(const std::tm& value);
  // A base64 value holding `size` bytes.
  XmlRpcValue(const void* data, std::size_t size);
  static XmlRpcValue Nil();

  XmlRpcValue(const XmlRpcValue& other);
  XmlRpcValue(XmlRpcValue&& other) noexcept;
  XmlRpcValue& operator=(const XmlRpcValue& other);
  XmlRpcValue& operator=(XmlRpcValue&& other) noexcept;
  ~XmlRpcValue() { invalidate(); }

  // Back to the empty value, releasing what it held.
  void invalidate();

  Type getType() const { return type_; }
  bool valid() const { return type_ != TypeInvalid; }

  // An empty value becomes `type` with a zero value (false, 0, 0.0, empty
  // text, empty array ...). True when the value now has that type; a value of
  // another type stays as it is and gives false.
  bool assertTypeOrInvalid(Type type);
  // Makes an empty value an array and grows an array to at least `size`
  // elements (new ones empty). False, unchanged, for any other type.
  bool assertArray(std::size_t size);
  // Makes an empty value an empty struct. False for any other type.
  bool assertStruct();

  // Elements of an array / string, base64, array or struct: their count, else 0.
  std::size_t size() const;

  // Element `index` for writing: the value is made an array of at least
  // index + 1 elements first; a value of another type is replaced by it.
  XmlRpcValue& operator[](std::size_t index);
  // Element `index` for reading: an empty value when out of range or not an array.
  const XmlRpcValue& operator[](std::size_t index) const;
  // Member `name` for writing: the value is made a struct first (a value of
  // another type is replaced); a missing member is added empty.
  XmlRpcValue& operator[](const std::string& name);
  // Member `name` for reading: an empty value when missing or not a struct.
  const XmlRpcValue& operator[](const std::string& name) const;
  bool hasMember(const std::string& name) const;

  // Typed reads: true and `out` set when the value has that type, else false
  // and `out` unchanged. getDouble reads an integer too.
  bool getBool(bool& out) const;
  bool getInt(int& out) const;
  bool getDouble(double& out) const;
  bool getString(std::string& out) const;
  bool getDateTime(std::tm& out) const;
  bool getBinary(BinaryData& out) const;
  // The array's elements / the struct's members (empty for other types).
  const ValueArray& arrayValue() const;
  const ValueStruct& structValue() const;

  // One-line text of the value; docs/xmlrpc.md gives the full form. A struct
  // prints its members ordered by name: [ADDRESS:"KEQ0000001",...,TYPE:"KV-SW1"].
  std::string toText() const;

  bool operator==(const XmlRpcValue& other) const;
  bool operator!=(const XmlRpcValue& other) const { return !(*this == other); }

 private:
  // The reply reader builds values in place (see XmlRpcInternal.h).
  friend struct ValueAccess;
  // toText's work: the length of the text, so that toText allocates it once,
  // and the text written at `out` (returns its end).
  std::size_t textSize() const;
  char* writeText(char* out) const;
  // The value takes `other`'s content; it is empty beforehand.
  void shareFrom(const XmlRpcValue& other) noexcept;
  void copyFrom(const XmlRpcValue& other);
  void takeFrom(XmlRpcValue& other) noexcept;
  // The bytes of a string or base64 value, and replacing them.
  const char* bytes() const;
  std::size_t byteCount() const;
  void setBytes(const char* bytes, std::size_t size);
  void freeBytes() noexcept;

  // Two words a value: a device list holds hundreds of thousands of them, and
  // a hostile reply as many as it can fit. Scalars are held in place, and so
  // is a text of up to 8 bytes (most names and kinds in a device list), its
  // size kept in what would be padding; a longer text, a time, an array or a
  // struct on the heap, only once it is not empty (a null pointer is the
  // empty one), so that an empty string costs nothing more.
  Type type_ = TypeInvalid;
  unsigned char heldBytes_ = 0;  // a text held in place: its size + 1; else 0
  union {
    bool bool_;
    int int_;
    double double_ = 0.0;
    char held_[8];   // string or base64 bytes held in place
    char* text_;     // string or base64 bytes: a block of size and bytes, null when empty
    std::tm* time_;  // never null for a dateTime
    ValueArray* array_;
    ValueStruct* members_;
  };
};

// Why a call cannot be written or a reply is not taken, for a reader: plain
// text, no line end.
struct Error {
  std::string reason;
};

// What EncodeCall and DecodeResponse hand back: the value, or the Error.
template <typename T>
class [[nodiscard]] Outcome {
 public:
  Outcome(T value) : held_(std::in_place_index<0>, std::move(value)) {}
  Outcome(Error error) : held_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return held_.index() == 0; }
  const T& value() const { return std::get<0>(held_); }
  T& value() { return std::get<0>(held_); }
  const std::string& error() const { return std::get<1>(held_).reason; }

 private:
  std::variant<T, Error> held_;
};

// A reply as read: the one returned value, or the fault value.
struct Response {
  XmlRpcValue value;
  bool isFault = false;
};

// The XML text of a call. An array `params` gives one parameter per element,
// an empty value none, any other value one parameter. An Error when a value
// cannot be sent: an empty element, a double that is not finite, a control
// character (other than tab, line feed, carriage return) in a text.
Outcome<std::string> EncodeCall(const std::string& method, const XmlRpcValue& params);

// Reads a methodResponse. An Error for anything but a well-formed one, also
// for a reply beyond the client's default bounds of values and text (see
// XmlRpcClient).
Outcome<Response> DecodeResponse(const std::string& xml);

class XmlRpcClient {
 public:
  static const long kDefaultConnectTimeoutSeconds = 5;
  static const long kDefaultTotalTimeoutSeconds = 30;
  static const std::size_t kDefaultMaxReplyBytes = 64u * 1024u * 1024u;
  static const int kDefaultPort = 2001;
  // A reply's values and the bytes of its texts (strings, base64, member
  // names) are bounded as its bytes are, so that no reply can make a caller
  // take more than about 100 MiB, however its values are shaped. A device
  // list needs about 56 values and 500 bytes of text for a device with three
  // channels: room for more than 5000 such devices.
  static const std::size_t kDefaultMaxReplyValues = 300000;
  static const std::size_t kDefaultMaxReplyTextBytes = 8u * 1024u * 1024u;

  // `url` is "xmlrpc://host[:port][/path]" (plain HTTP), "http://host[:port][/path]",
  // or "host[:port][/path]" without a scheme (plain HTTP). Without a port,
  // "xmlrpc://" and a bare host mean port 2001 and "http://" means 80; without
  // a path the call goes to "/". A text that names no usable URL gives a
  // client whose every execute fails.
  explicit XmlRpcClient(const std::string& url);
  ~XmlRpcClient();
  XmlRpcClient(const XmlRpcClient&) = delete;
  XmlRpcClient& operator=(const XmlRpcClient&) = delete;

  // Posts the call and waits for the reply. True when a well-formed reply
  // came back (a fault too: see isFault); false when there was no usable
  // reply, with the reason in lastError(). `result` is emptied first.
  bool execute(const std::string& method, const XmlRpcValue& params, XmlRpcValue& result);
  // Whether the reply of the last successful execute was a fault.
  bool isFault() const { return isFault_; }
  const std::string& lastError() const { return error_; }
  // The HTTP URL the calls go to; empty when the text named none.
  const std::string& httpUrl() const { return httpUrl_; }

  void setTimeouts(long connectSeconds, long totalSeconds);
  void setMaxReplyBytes(std::size_t maxBytes);
  void setMaxReplyValues(std::size_t maxValues);
  void setMaxReplyTextBytes(std::size_t maxBytes);

 private:
  std::string httpUrl_;
  std::string error_;
  bool isFault_ = false;
  long connectTimeout_ = kDefaultConnectTimeoutSeconds;
  long totalTimeout_ = kDefaultTotalTimeoutSeconds;
  std::size_t maxReplyBytes_ = kDefaultMaxReplyBytes;
  std::size_t maxReplyValues_ = kDefaultMaxReplyValues;
  std::size_t maxReplyTextBytes_ = kDefaultMaxReplyTextBytes;
};

}  // namespace XmlRpc
