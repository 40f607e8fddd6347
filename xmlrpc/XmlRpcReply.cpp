// Reads the XML of a reply with expat, building its values while expat reads.
//
// Two tables give a reply its shape: kRules, the children each element
// allows, and kElements, the name of every element and, for a type, the
// reader that makes its text a value. Values wait on a stack: an array takes
// those above the mark it set where it started, a struct (on the stack from
// its start) each member as the member ends. No tree of the elements is kept.
// The first refusal wins: the reply is not read any further.
#include <expat.h>

#include <climits>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "XmlRpc.h"
#include "XmlRpcInternal.h"

namespace XmlRpc {

namespace {

// Deeper replies are refused: values and their texts are copied and freed
// recursively.
const std::size_t kMaxDepth = 200;
// expat holds a tag, a comment or any other piece of markup whole until it
// ends; text it hands out as it comes. A reply needs no markup near this long.
const std::size_t kMaxMarkupBytes = 1024u * 1024u;
// The text buffer is kept for the next element only while it is small: a
// long one would stay held for the rest of the reply.
const std::size_t kKeptBufferBytes = 4096;
// A text quoted in a reason is cut short: the reason is for a reader, and the
// text may be as long as the reply.
const std::size_t kQuotedBytes = 40;

// Scalar: a type read from its text (every type but array and struct).
// clang-format off
enum class Kind : unsigned char {
  Document, Response, Params, Param, Fault, Value, Array, Data, Struct, Member, Name, Scalar
};
// clang-format on

constexpr unsigned Bit(Kind kind) {
  return 1u << static_cast<unsigned>(kind);
}

// How an element holds the children it allows.
enum class Holds : unsigned char {
  Nothing,   // no element at all
  One,       // exactly one
  Many,      // any number
  EachOnce,  // each exactly once, in any order
  Type,      // a value: no element (its text is a string) or one type
};

// What an element allows, and the reason when a child is missing or comes
// more often than that.
struct Rule {
  Holds holds;
  unsigned children;  // the kinds allowed, one bit each
  const char* refusal;
};

// The children each element allows, in the order of Kind.
constexpr Rule kRules[] = {
    {Holds::One, Bit(Kind::Response), "reply is no methodResponse"},
    {Holds::One, Bit(Kind::Params) | Bit(Kind::Fault),
     "<methodResponse> without one <params> or <fault>"},
    {Holds::One, Bit(Kind::Param), "<params> without exactly one <param>"},
    {Holds::One, Bit(Kind::Value), "<param> without exactly one <value>"},
    {Holds::One, Bit(Kind::Value), "<fault> without exactly one <value>"},
    {Holds::Type, Bit(Kind::Array) | Bit(Kind::Struct) | Bit(Kind::Scalar),
     "<value> with more than one type"},
    {Holds::One, Bit(Kind::Data), "<array> without one <data>"},
    {Holds::Many, Bit(Kind::Value), nullptr},
    {Holds::Many, Bit(Kind::Member), nullptr},
    {Holds::EachOnce, Bit(Kind::Name) | Bit(Kind::Value),
     "<member> without one <name> and one <value>"},
    {Holds::Nothing, 0, nullptr},  // Name
    {Holds::Nothing, 0, nullptr},  // Scalar
};
static_assert(sizeof kRules / sizeof *kRules == static_cast<std::size_t>(Kind::Scalar) + 1,
              "one rule for each kind");

struct Element {
  const char* name;
  Kind kind;
  // A scalar's value from its text, and a value's without a type (a string);
  // an empty value when the text is none of that type.
  XmlRpcValue (*read)(const std::string& text);
};

// Every element a reply may hold, the most frequent first. i8, nil and their
// ex: forms are extensions that many servers send.
// clang-format off
constexpr Element kElements[] = {
    {"value", Kind::Value, ReadString},                 {"member", Kind::Member, nullptr},
    {"name", Kind::Name, nullptr},                      {"string", Kind::Scalar, ReadString},
    {"struct", Kind::Struct, nullptr},                  {"int", Kind::Scalar, ReadInt},
    {"boolean", Kind::Scalar, ReadBoolean},             {"array", Kind::Array, nullptr},
    {"data", Kind::Data, nullptr},                      {"i4", Kind::Scalar, ReadInt},
    {"double", Kind::Scalar, ReadDouble},               {"i8", Kind::Scalar, ReadI8},
    {"dateTime.iso8601", Kind::Scalar, ReadDateTime},   {"base64", Kind::Scalar, ReadBase64},
    {"nil", Kind::Scalar, ReadNil},                     {"ex:i8", Kind::Scalar, ReadI8},
    {"ex:nil", Kind::Scalar, ReadNil},                  {"methodResponse", Kind::Response, nullptr},
    {"params", Kind::Params, nullptr},                  {"param", Kind::Param, nullptr},
    {"fault", Kind::Fault, nullptr},                    {nullptr, Kind::Document, nullptr}};
// clang-format on
constexpr Element kDocument = {"", Kind::Document, nullptr};

// An element not yet ended.
struct Frame {
  const Element* what = &kDocument;
  bool collect = false;    // its text is kept: a type's, a name's, a value's before its type
  unsigned seen = 0;       // the children that came: a bit for each kind
  std::size_t mark = 0;    // Array: the size of the value stack where it started
  std::string memberName;  // Member: its name once its <name> ended
};

}  // namespace

struct ReplyReader::State {
  std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser{XML_ParserCreate(nullptr),
                                                                      XML_ParserFree};
  bool isFault = false;
  std::size_t maxValues = 0;
  std::size_t maxTextBytes = 0;
  std::size_t values = 0;     // <value> elements so far
  std::size_t textBytes = 0;  // text held: in values, member names and the element read now
  // [0] the document, [1 .. depth] the open elements.
  std::vector<Frame> frames = std::vector<Frame>(kMaxDepth + 1);
  std::size_t depth = 0;
  std::string text;                // the text of the element read now
  std::vector<XmlRpcValue> stack;  // values not yet in their array, struct or the response
  std::string failure;             // why the reply is refused: the first reason met
  std::size_t fedBytes = 0;
  char* gathered = nullptr;  // expat's buffer, while a reply of known length is gathered
  std::size_t gatheredBytes = 0;
  std::size_t expectedBytes = 0;
};

namespace {

using State = ReplyReader::State;

void Fail(State& state, std::string reason) {
  if (state.failure.empty()) state.failure = std::move(reason);
  XML_StopParser(state.parser.get(), XML_FALSE);
}

// Text that is no longer held: read into a number, or not wanted after all.
void Release(State& state, std::string& text) {
  state.textBytes -= text.size() < state.textBytes ? text.size() : state.textBytes;
  text.clear();
  if (text.capacity() > kKeptBufferBytes) text.shrink_to_fit();
}

std::string Quoted(const std::string& text) {
  if (text.size() <= kQuotedBytes) return "\"" + text + "\"";
  return "\"" + text.substr(0, kQuotedBytes) + "\"...";
}

std::string Tag(const std::string& name) {
  return "<" + name + ">";
}

// The new element `name` at `state.depth`: refused where its parent does not
// allow it, else what it is.
void Start(State& state, const XML_Char* name) {
  Frame& parent = state.frames[state.depth - 1];
  Kind parentKind = parent.what->kind;
  const Rule& rule = kRules[static_cast<std::size_t>(parentKind)];
  const Element* child = kElements;
  while (child->name && (child->name[0] != name[0] || std::strcmp(child->name, name) != 0)) {
    ++child;
  }
  unsigned bit = child->name ? Bit(child->kind) : 0;
  if ((rule.children & bit) == 0) {
    if (parentKind == Kind::Document) return Fail(state, rule.refusal);
    if (parentKind == Kind::Value) return Fail(state, "unknown value type " + Tag(name));
    return Fail(state, Tag(name) + " inside " + Tag(parent.what->name));
  }
  bool again = rule.holds == Holds::EachOnce ? (parent.seen & bit) != 0 : parent.seen != 0;
  if (again && rule.holds != Holds::Many) return Fail(state, rule.refusal);
  parent.seen |= bit;
  if (parentKind == Kind::Value) {
    // Beside a type only the blankness of a value's text counts.
    if (!IsBlank(state.text.data(), state.text.size())) return Fail(state, "text inside <value>");
    Release(state, state.text);
    parent.collect = false;
  }
  Frame& frame = state.frames[state.depth];
  frame.what = child;
  frame.collect = child->kind == Kind::Value || child->kind >= Kind::Name;
  frame.seen = 0;
  frame.mark = state.stack.size();
  if (child->kind == Kind::Value && ++state.values > state.maxValues) {
    Fail(state, "reply holds more than " + std::to_string(state.maxValues) + " values");
  } else if (child->kind == Kind::Struct) {
    state.stack.emplace_back().assertStruct();
  } else if (child->kind == Kind::Fault) {
    state.isFault = true;
  }
}

// The element at `state.depth` ends: what it lacks refuses the reply, else
// it puts its value on the stack or takes the values it holds from there.
void End(State& state) {
  Frame& frame = state.frames[state.depth];
  const Rule& rule = kRules[static_cast<std::size_t>(frame.what->kind)];
  if ((rule.holds == Holds::One && frame.seen == 0) ||
      (rule.holds == Holds::EachOnce && frame.seen != rule.children)) {
    return Fail(state, rule.refusal);
  }
  std::vector<XmlRpcValue>& stack = state.stack;
  switch (frame.what->kind) {
    case Kind::Value:
    case Kind::Scalar: {
      if (frame.seen != 0) break;  // a value with a type
      Latin1FromUtf8(state.text);
      stack.push_back(frame.what->read(state.text));
      XmlRpcValue::Type type = stack.back().getType();
      if (type == XmlRpcValue::TypeInvalid) {
        return Fail(state,
                    "bad " + std::string(frame.what->name) + " " + Quoted(Trimmed(state.text)));
      }
      // A string or base64 holds its text: it stays counted.
      if (type == XmlRpcValue::TypeString || type == XmlRpcValue::TypeBase64) state.text.clear();
      break;
    }
    case Kind::Name:
      // Held as the member's from now on; copied, as the buffer may be far
      // larger than a name, which mostly needs no block of its own.
      Latin1FromUtf8(state.text);
      state.frames[state.depth - 1].memberName.assign(state.text);
      state.text.clear();
      break;
    case Kind::Member: {
      // A repeated name keeps the last value, as most servers would. A new
      // name stays counted: the struct holds it now.
      XmlRpcValue::ValueStruct& members = ValueAccess::Members(stack[stack.size() - 2]);
      if (!members.insert_or_assign(std::move(frame.memberName), std::move(stack.back())).second) {
        Release(state, frame.memberName);
      }
      stack.pop_back();
      break;
    }
    case Kind::Array: {
      XmlRpcValue array;
      array.assertArray(0);
      auto first = stack.begin() + static_cast<std::ptrdiff_t>(frame.mark);
      if (frame.mark == 0 && first != stack.end()) {
        ValueAccess::Array(array).swap(stack);  // all of it: taken whole, not copied
      } else if (first != stack.end()) {
        ValueAccess::Array(array).assign(std::make_move_iterator(first),
                                         std::make_move_iterator(stack.end()));
        stack.erase(first, stack.end());
      }
      stack.push_back(std::move(array));
      break;
    }
    default:
      break;
  }
  Release(state, state.text);
}

std::string MarkupReason() {
  return "reply holds a tag, comment or other markup longer than " +
         std::to_string(kMaxMarkupBytes) + " bytes";
}

// A tag, comment or other markup that expat hands out: it held all of it.
bool MarkupTooLong(State& state) {
  if (static_cast<std::size_t>(XML_GetCurrentByteCount(state.parser.get())) <= kMaxMarkupBytes) {
    return false;
  }
  Fail(state, MarkupReason());
  return true;
}

// expat is C: nothing may unwind through it. Memory that runs out while a
// reply is read refuses the reply (the short reason needs no memory). expat
// may still call a handler after the reply was refused: it does nothing.
template <typename Handler>
void Guarded(State& state, Handler handler) {
  if (!state.failure.empty()) return;
  try {
    handler();
  } catch (const std::bad_alloc&) {
    if (state.failure.empty()) state.failure = "out of memory";
    XML_StopParser(state.parser.get(), XML_FALSE);
  }
}

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char**) {
  State& state = *static_cast<State*>(data);
  Guarded(state, [&] {
    if (MarkupTooLong(state)) return;
    if (state.depth == kMaxDepth) return Fail(state, "reply nested too deeply");
    ++state.depth;
    Start(state, name);
  });
}

void XMLCALL OnEnd(void* data, const XML_Char*) {
  State& state = *static_cast<State*>(data);
  Guarded(state, [&] {
    if (MarkupTooLong(state)) return;
    End(state);
    --state.depth;
  });
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  State& state = *static_cast<State*>(data);
  const Frame& frame = state.frames[state.depth];
  std::size_t size = static_cast<std::size_t>(length);
  if (!frame.collect && IsBlank(text, size)) return;
  Guarded(state, [&] {
    if (!frame.collect) return Fail(state, "text inside " + Tag(frame.what->name));
    if (size > state.maxTextBytes - state.textBytes) {
      return Fail(state,
                  "reply holds more than " + std::to_string(state.maxTextBytes) + " bytes of text");
    }
    state.textBytes += size;
    state.text.append(text, size);
  });
}

// Comments, processing instructions, blanks outside the root: nothing to read.
void XMLCALL OnOther(void* data, const XML_Char*, int) {
  State& state = *static_cast<State*>(data);
  Guarded(state, [&] { MarkupTooLong(state); });
}

// Replies never need a document type; refusing it keeps entity tricks out.
void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  State& state = *static_cast<State*>(data);
  Guarded(state, [&] { Fail(state, "reply declares a document type"); });
}

// Reads `size` bytes at `data`, or as many gathered in expat's buffer when
// `data` is null.
void Parse(State& state, const char* data, std::size_t size, bool last) {
  XML_Parser parser = state.parser.get();
  int length = static_cast<int>(size);
  bool ok = (data ? XML_Parse(parser, data, length, last)
                  : XML_ParseBuffer(parser, length, last)) == XML_STATUS_OK;
  // What expat has not handed out yet is markup it holds until it ends.
  state.fedBytes += size;
  XML_Index at = XML_GetCurrentByteIndex(parser);
  bool markupHeld = state.fedBytes - (at > 0 ? static_cast<std::size_t>(at) : 0) > kMaxMarkupBytes;
  Guarded(state, [&] {
    if (!ok) {
      Fail(state, std::string("reply is not well-formed XML: ") +
                      XML_ErrorString(XML_GetErrorCode(parser)) + " at line " +
                      std::to_string(XML_GetCurrentLineNumber(parser)));
    } else if (!last && markupHeld) {
      Fail(state, MarkupReason());
    }
  });
}

}  // namespace

ReplyReader::ReplyReader(std::size_t maxValues, std::size_t maxTextBytes)
    : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.maxValues = maxValues;
  state.maxTextBytes = maxTextBytes;
  // Room for the values of a few devices from the start. Measured: without
  // it the reply gathered first took a mapping of its own instead of the
  // heap kept between lists, 4 MB more at the peak of a run.
  state.stack.reserve(1024);
  XML_Parser parser = state.parser.get();
  if (!parser) {
    state.failure = "out of memory";
    return;
  }
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser, OnText);
  XML_SetStartDoctypeDeclHandler(parser, OnDoctype);
  XML_SetDefaultHandlerExpand(parser, OnOther);
}

ReplyReader::~ReplyReader() = default;

void ReplyReader::expect(std::size_t size) {
  State& state = *state_;
  if (failed() || state.fedBytes > 0 || state.gathered || size > INT_MAX) return;
  // Without a buffer for all of it, the reply is read as it comes.
  state.gathered = static_cast<char*>(XML_GetBuffer(state.parser.get(), static_cast<int>(size)));
  state.expectedBytes = state.gathered ? size : 0;
}

void ReplyReader::feed(const char* data, std::size_t size) {
  State& state = *state_;
  if (state.gathered && size <= state.expectedBytes - state.gatheredBytes) {
    std::memcpy(state.gathered + state.gatheredBytes, data, size);
    state.gatheredBytes += size;
    return;
  }
  if (state.gathered && !failed()) {  // more than announced: the rest is read as it comes
    state.gathered = nullptr;
    Parse(state, nullptr, state.gatheredBytes, false);
  }
  for (std::size_t piece = 0; size > 0 && !failed(); size -= piece, data += piece) {
    piece = size < INT_MAX ? size : INT_MAX;
    Parse(state, data, piece, false);
  }
}

bool ReplyReader::failed() const {
  return !state_->failure.empty();
}

Outcome<Response> ReplyReader::finish() {
  State& state = *state_;
  // A gathered reply goes to expat in one final call, which spares expat the
  // line counting it does over every piece but the last.
  if (!failed() && state.gathered) {
    Parse(state, nullptr, state.gatheredBytes, true);
  } else if (!failed()) {
    Parse(state, "", 0, true);
  }
  state.gathered = nullptr;
  if (failed()) return Error{state.failure};
  // The document holds one methodResponse, which holds one value: the stack's only one.
  return Response{std::move(state.stack.front()), state.isFault};
}

Outcome<Response> DecodeResponse(const std::string& xml) {
  try {
    ReplyReader reader;
    reader.expect(xml.size());
    reader.feed(xml.data(), xml.size());
    return reader.finish();
  } catch (const std::bad_alloc&) {
    return Error{"out of memory"};
  }
}

}  // namespace XmlRpc
