// Reads the XML of a reply with expat, building its values while expat reads.
//
// The shape of a reply is one table, RuleOf: the children each element
// allows. An element where its name is not allowed refuses the reply, and
// nothing inside it is looked at. Each element's checks run when it ends;
// each value is built where it ends up (an array's new element, a member's
// value, the result), so no tree of the elements is kept.
//
// The first refusal wins, but an element's own refusal replaces one made
// inside it: a reply with several faults is refused for the outermost one
// (an element's own shape before what it holds, a member's <name> before its
// <value>), wherever the faults stand in the text.
#include <expat.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
// A frame's text buffer is kept for the next element at its depth only while
// it is small: a long one would stay held for the rest of the reply.
const std::size_t kKeptBufferBytes = 4096;
// A text quoted in a reason is cut short: the reason is for a reader, and the
// text may be as long as the reply.
const std::size_t kQuotedBytes = 40;

// Other: an element where its name is not allowed. Unknown: a value type this
// reader does not know. The types of a value follow Name.
// clang-format off
enum class Kind : unsigned char {
  Other, Document, Response, Params, Param, Fault, Value, Array, Data, Struct, Member, Name,
  String, Int, I8, Double, Boolean, DateTime, Base64, Nil, Unknown
};
// clang-format on

// How an element holds the children it allows.
enum class Holds : unsigned char {
  Nothing,   // no element at all
  One,       // exactly one, and no other element
  Many,      // any number; any other element refuses the reply where it starts
  EachOnce,  // each once, and no other element
  Type,      // a value: no element (its text is a string) or one type
};

struct Child {
  const char* name;
  Kind kind;
};

// What an element allows, and the reason when it holds something else (for
// Many, the text after the tag of the element that is not allowed).
struct Rule {
  Holds holds;
  const Child* allowed;  // ended by the kind any other name gets
  const char* refusal;
};

const Child kNone[] = {{nullptr, Kind::Other}};
const Child kDocumentChildren[] = {{"methodResponse", Kind::Response}, {nullptr, Kind::Other}};
const Child kResponseChildren[] = {
    {"params", Kind::Params}, {"fault", Kind::Fault}, {nullptr, Kind::Other}};
const Child kParamsChildren[] = {{"param", Kind::Param}, {nullptr, Kind::Other}};
const Child kValueChild[] = {{"value", Kind::Value}, {nullptr, Kind::Other}};
const Child kArrayChildren[] = {{"data", Kind::Data}, {nullptr, Kind::Other}};
const Child kStructChildren[] = {{"member", Kind::Member}, {nullptr, Kind::Other}};
const Child kMemberChildren[] = {
    {"name", Kind::Name}, {"value", Kind::Value}, {nullptr, Kind::Other}};
// The common types first; i8, nil and their ex: forms are extensions that
// many servers send.
const Child kTypes[] = {
    {"string", Kind::String}, {"int", Kind::Int},       {"boolean", Kind::Boolean},
    {"array", Kind::Array},   {"struct", Kind::Struct}, {"i4", Kind::Int},
    {"double", Kind::Double}, {"i8", Kind::I8},         {"dateTime.iso8601", Kind::DateTime},
    {"base64", Kind::Base64}, {"nil", Kind::Nil},       {"ex:i8", Kind::I8},
    {"ex:nil", Kind::Nil},    {nullptr, Kind::Unknown}};

// The children each element allows, in the order of Kind.
const Rule kRules[] = {
    {Holds::Nothing, kNone, nullptr},  // Other
    {Holds::One, kDocumentChildren, "reply is no methodResponse"},
    {Holds::One, kResponseChildren, "<methodResponse> without one <params> or <fault>"},
    {Holds::One, kParamsChildren, "<params> without exactly one <param>"},
    {Holds::One, kValueChild, "<param> without exactly one <value>"},
    {Holds::One, kValueChild, "<fault> without exactly one <value>"},
    {Holds::Type, kTypes, "<value> with more than one type"},
    {Holds::One, kArrayChildren, "<array> without one <data>"},
    {Holds::Many, kValueChild, " where a <value> belongs"},
    {Holds::Many, kStructChildren, " inside <struct>"},
    {Holds::EachOnce, kMemberChildren, "<member> without <name> and <value>"},
    {Holds::Nothing, kNone, nullptr},  // Name, and the types
};

const Rule& RuleOf(Kind kind) {
  constexpr std::size_t kLast = sizeof kRules / sizeof *kRules - 1;
  static_assert(kLast == static_cast<std::size_t>(Kind::Name), "one rule for each kind up to Name");
  std::size_t index = static_cast<std::size_t>(kind);
  return kRules[index < kLast ? index : kLast];
}

// An element not yet ended.
struct Frame {
  Kind kind = Kind::Other;
  bool collect = false;         // its text is kept: a type's, a name's, a value's before its type
  bool nonBlank = false;        // text other than blanks beside its elements
  bool nameHasElement = false;  // Member: an element inside its <name>
  unsigned char seen = 0;       // EachOnce: the allowed children that came, one bit each
  std::size_t children = 0;
  XmlRpcValue* target = nullptr;  // the value it fills; null once the reply is refused
  std::string stray;              // its first child that is not allowed
  std::string text;               // the text as read; a member's name once its <name> ended
  XmlRpcValue pending;            // Member: its value until the member ends
};

struct ParserFree {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

}  // namespace

struct ReplyReader::State {
  std::unique_ptr<XML_ParserStruct, ParserFree> parser{XML_ParserCreate(nullptr)};
  XmlRpcValue* result = nullptr;
  bool accepted = false;
  bool isFault = false;
  std::size_t maxValues = 0;
  std::size_t maxTextBytes = 0;
  std::size_t values = 0;     // <value> elements so far
  std::size_t textBytes = 0;  // text held: in values, member names and open elements
  // [0] the document, [1 .. depth] the open elements. Values of one frame are
  // filled from deeper ones: the frames never move.
  std::vector<Frame> frames = std::vector<Frame>(kMaxDepth + 1);
  std::size_t depth = 0;
  std::string failure;           // why reading stopped: not well formed, a bound passed
  std::string refusal;           // why the well-formed reply is not taken
  std::size_t refusalDepth = 0;  // the open element it was made for, or inside
  bool refusalInside = false;
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

// For the element at `depth`: stands unless an earlier refusal was made for
// an element before it (at `depth` itself or above, or inside one that ended).
void Refuse(State& state, std::size_t depth, std::string reason) {
  if (!state.refusal.empty() &&
      (state.refusalDepth < depth || (state.refusalDepth == depth && !state.refusalInside))) {
    return;
  }
  state.refusal = std::move(reason);
  state.refusalDepth = depth;
  state.refusalInside = false;
}

// Text that is no longer held: read into a number, or not wanted after all.
void Release(State& state, std::string& text) {
  state.textBytes -= text.size() < state.textBytes ? text.size() : state.textBytes;
  text.clear();
  if (text.capacity() > kKeptBufferBytes) text.shrink_to_fit();
}

bool IsBlank(const char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n') return false;
  }
  return true;
}

// expat hands out UTF-8; the programs work in ISO-8859-1. Converts in place:
// the ISO-8859-1 form is never longer.
void Latin1FromUtf8(std::string& text) {
  std::size_t size = text.size();
  // Most texts are ASCII: they are looked at eight bytes at a time and left.
  std::size_t out = 0;
  for (std::uint64_t bytes = 0; out + 8 <= size; out += 8) {
    std::memcpy(&bytes, text.data() + out, 8);
    if (bytes & 0x8080808080808080u) break;
  }
  while (out < size && static_cast<unsigned char>(text[out]) < 0x80) ++out;
  for (std::size_t i = out; i < size;) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      text[out++] = static_cast<char>(lead);
      i += 1;
    } else if ((lead & 0xE0) == 0xC0 && i + 1 < size) {
      unsigned code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      text[out++] = code <= 0xFF ? static_cast<char>(code) : '?';
      i += 2;
    } else {
      text[out++] = '?';
      i += (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
    }
  }
  text.resize(out);
}

std::string Trimmed(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string Quoted(const std::string& text) {
  if (text.size() <= kQuotedBytes) return "\"" + text + "\"";
  return "\"" + text.substr(0, kQuotedBytes) + "\"...";
}

std::string Tag(const std::string& name) {
  return "<" + name + ">";
}

// Reads the text of a type into `target` (none once the reply is refused).
// False, with the reason in `reason`, when it is no value of that type.
bool ReadType(Kind kind, const char* name, std::string& text, XmlRpcValue* target,
              std::string& reason) {
  if (kind == Kind::Unknown) reason = "unknown value type " + Tag(name);
  if (kind == Kind::Nil && !IsBlank(text.data(), text.size())) reason = "text inside <nil>";
  if (!reason.empty() || (kind == Kind::String && !target)) return reason.empty();
  if (kind == Kind::Nil) {
    if (target) ValueAccess::SetType(*target, XmlRpcValue::TypeNil);
    return true;
  }
  Latin1FromUtf8(text);
  std::string trimmed = kind == Kind::String || kind == Kind::Base64 ? "" : Trimmed(text);
  std::string bytes;
  char* end = nullptr;
  errno = 0;
  if (kind == Kind::String) {
    ValueAccess::SetText(*target, text);
  } else if (kind == Kind::Base64) {
    if (!Base64Decode(text, bytes)) {
      reason = "bad base64";
    } else if (target) {
      ValueAccess::SetType(*target, XmlRpcValue::TypeBase64);
      ValueAccess::SetText(*target, bytes);
    }
  } else if (kind == Kind::Int || kind == Kind::I8) {
    long long number = std::strtoll(trimmed.c_str(), &end, 10);
    if (trimmed.empty() || *end != '\0' || errno == ERANGE ||
        (kind == Kind::Int && (number < INT_MIN || number > INT_MAX))) {
      reason = (kind == Kind::Int ? "bad int " : "bad i8 ") + Quoted(trimmed);
    } else if (target && number >= INT_MIN && number <= INT_MAX) {
      ValueAccess::SetInt(*target, static_cast<int>(number));
    } else if (target) {
      // The value type has 32-bit integers only: a larger i8 is kept as the
      // nearest double (exact up to 2^53), as a reader of the text expects.
      ValueAccess::SetDouble(*target, static_cast<double>(number));
    }
  } else if (kind == Kind::Double) {
    double number = std::strtod(trimmed.c_str(), &end);
    if (trimmed.empty() || *end != '\0') {
      reason = "bad double " + Quoted(trimmed);
    } else if (target) {
      ValueAccess::SetDouble(*target, number);
    }
  } else if (kind == Kind::Boolean) {
    if (trimmed != "0" && trimmed != "1") {
      reason = "bad boolean " + Quoted(trimmed);
    } else if (target) {
      ValueAccess::SetBool(*target, trimmed == "1");
    }
  } else {  // a dateTime.iso8601
    std::tm time{};
    if (!ParseDateTimeText(trimmed, time)) {
      reason = "bad dateTime.iso8601 " + Quoted(text);
    } else if (target) {
      ValueAccess::SetDateTime(*target, time);
    }
  }
  return reason.empty();
}

// The kind of the new element `name` inside `parent`: the one the table gives
// where its name is allowed there, else Other.
Kind Place(State& state, Frame& parent, const XML_Char* name) {
  const Rule& rule = RuleOf(parent.kind);
  const Child* child = rule.allowed;
  while (child->name && (child->name[0] != name[0] || std::strcmp(child->name, name) != 0)) {
    ++child;
  }
  bool first = parent.children++ == 0;
  switch (rule.holds) {
    case Holds::Nothing:
      if (parent.kind == Kind::Name) state.frames[state.depth - 2].nameHasElement = true;
      return Kind::Other;
    case Holds::Type:
      return first ? child->kind : Kind::Other;  // an unknown type refuses the reply when it ends
    case Holds::Many:
      if (!child->name) Refuse(state, state.depth, Tag(name) + rule.refusal);
      return child->kind;
    case Holds::One:
      if (first && child->name) return child->kind;
      if (parent.kind == Kind::Document) Refuse(state, state.depth, rule.refusal);
      break;
    case Holds::EachOnce: {
      unsigned char bit = static_cast<unsigned char>(1u << (child - rule.allowed));
      if (child->name && !(parent.seen & bit)) {
        parent.seen |= bit;
        return child->kind;
      }
      break;
    }
  }
  if (parent.stray.empty()) parent.stray = name;
  return Kind::Other;
}

// The new element at `state.depth`: what it is and which value it fills.
void Start(State& state, const XML_Char* name) {
  Frame& parent = state.frames[state.depth - 1];
  Frame& frame = state.frames[state.depth];
  if (parent.kind == Kind::Value && parent.children == 0) {
    // Beside a type only the blankness of a value's text counts.
    parent.nonBlank = !IsBlank(parent.text.data(), parent.text.size());
    Release(state, parent.text);
    parent.collect = false;
  }
  frame.kind = Place(state, parent, name);
  frame.collect = frame.kind == Kind::Value || frame.kind >= Kind::Name;
  frame.nonBlank = frame.nameHasElement = false;
  frame.seen = 0;
  frame.children = 0;
  frame.stray.clear();
  if (!frame.text.empty()) Release(state, frame.text);
  frame.target = state.refusal.empty() ? parent.target : nullptr;
  switch (frame.kind) {
    case Kind::Value:
      if (++state.values > state.maxValues) {
        Fail(state, "reply holds more than " + std::to_string(state.maxValues) + " values");
      } else if (parent.kind == Kind::Param || parent.kind == Kind::Fault) {
        frame.target = state.refusal.empty() ? state.result : nullptr;
      } else if (parent.kind == Kind::Data && frame.target) {
        frame.target = &ValueAccess::Array(*frame.target).emplace_back();
      } else if (frame.target) {
        frame.target = &parent.pending;  // a member's
      }
      break;
    case Kind::Array:
    case Kind::Struct:
      if (frame.target) {
        ValueAccess::SetType(*frame.target, frame.kind == Kind::Array ? XmlRpcValue::TypeArray
                                                                      : XmlRpcValue::TypeStruct);
      }
      break;
    case Kind::Member:
      frame.pending.invalidate();
      break;
    case Kind::Fault:
      state.isFault = true;
      break;
    default:
      break;
  }
}

// Whether the element that ends refuses the reply for what it holds itself;
// the reason goes to `reason`.
bool ShapeFault(const Frame& frame, const XML_Char* name, std::string& reason) {
  const Rule& rule = RuleOf(frame.kind);
  if (frame.nonBlank) {
    reason = "text inside " + Tag(name);
  } else if (rule.holds == Holds::One && (frame.children != 1 || !frame.stray.empty())) {
    bool strayOnly = frame.kind == Kind::Response && frame.children == 1;
    reason = strayOnly ? Tag(frame.stray) + " inside <methodResponse>" : rule.refusal;
  } else if (rule.holds == Holds::EachOnce && !frame.stray.empty()) {
    reason = "<member> with " + Tag(frame.stray);
  } else if (rule.holds == Holds::EachOnce && frame.seen != 3) {
    reason = rule.refusal;
  } else if (rule.holds == Holds::EachOnce && frame.nameHasElement) {
    reason = "element inside <name>";
  } else if (rule.holds == Holds::Type && frame.children > 1) {
    reason = rule.refusal;
  } else if (frame.kind >= Kind::String && frame.children > 0) {
    reason = "element inside " + Tag(name);
  } else {
    return false;
  }
  return true;
}

// The element at `state.depth` ends: its checks, and the value it completes.
inline void End(State& state, const XML_Char* name) {
  Frame& frame = state.frames[state.depth];
  if (frame.kind == Kind::Other) return;  // nothing looked at, nothing held
  XmlRpcValue* target = state.refusal.empty() ? frame.target : nullptr;
  std::string reason;
  if (ShapeFault(frame, name, reason) ||
      (frame.kind >= Kind::String && !ReadType(frame.kind, name, frame.text, target, reason))) {
    Refuse(state, state.depth, std::move(reason));
    target = nullptr;
  } else if (target && (frame.kind == Kind::String || frame.kind == Kind::Base64)) {
    frame.text.clear();  // stays counted: the value holds it now
  }
  if (frame.kind == Kind::Member && target &&
      ValueAccess::Members(*target)
          .insert_or_assign(std::move(frame.text), std::move(frame.pending))
          .second) {
    // A repeated name keeps the last value, as most servers would. A new
    // name stays counted: the struct holds it now.
    frame.text.clear();
  } else if (frame.kind == Kind::Name) {
    Latin1FromUtf8(frame.text);
    state.frames[state.depth - 1].text = std::move(frame.text);  // the member's name
  } else if (frame.kind == Kind::Value && frame.children == 0 && target) {
    // An untagged value is a string; its text stays counted.
    Latin1FromUtf8(frame.text);
    ValueAccess::SetText(*target, frame.text);
    frame.text.clear();
  }
  Release(state, frame.text);
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
// reply is read refuses the reply (the short reason needs no memory).
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

void XMLCALL OnEnd(void* data, const XML_Char* name) {
  State& state = *static_cast<State*>(data);
  Guarded(state, [&] {
    if (MarkupTooLong(state)) return;
    End(state, name);
    if (!state.refusal.empty() && state.refusalDepth == state.depth) {
      --state.refusalDepth;  // made inside the parent now
      state.refusalInside = true;
    }
    --state.depth;
  });
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  State& state = *static_cast<State*>(data);
  Frame& frame = state.frames[state.depth];
  std::size_t size = static_cast<std::size_t>(length);
  if (!frame.collect) {
    if (!frame.nonBlank && !IsBlank(text, size)) frame.nonBlank = true;
    return;
  }
  Guarded(state, [&] {
    if (size > state.maxTextBytes - state.textBytes) {
      return Fail(state,
                  "reply holds more than " + std::to_string(state.maxTextBytes) + " bytes of text");
    }
    state.textBytes += size;
    frame.text.append(text, size);
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

ReplyReader::ReplyReader(XmlRpcValue& result, std::size_t maxValues, std::size_t maxTextBytes)
    : state_(std::make_unique<State>()) {
  result.invalidate();
  State& state = *state_;
  state.result = &result;
  state.maxValues = maxValues;
  state.maxTextBytes = maxTextBytes;
  state.frames[0].kind = Kind::Document;
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

ReplyReader::~ReplyReader() {
  if (!state_->accepted) state_->result->invalidate();
}

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

bool ReplyReader::finish(bool& isFault, std::string& error) {
  State& state = *state_;
  // A gathered reply goes to expat in one final call, which spares expat the
  // line counting it does over every piece but the last.
  if (!failed() && state.gathered) {
    Parse(state, nullptr, state.gatheredBytes, true);
  } else if (!failed()) {
    Parse(state, "", 0, true);
  }
  state.gathered = nullptr;
  state.accepted = state.failure.empty() && state.refusal.empty();
  error = !state.failure.empty() ? state.failure : state.refusal;
  isFault = state.accepted && state.isFault;
  if (!state.accepted) state.result->invalidate();
  return state.accepted;
}

bool DecodeResponse(const std::string& xml, XmlRpcValue& result, bool& isFault,
                    std::string& error) {
  isFault = false;
  try {
    ReplyReader reader(result);
    reader.expect(xml.size());
    reader.feed(xml.data(), xml.size());
    return reader.finish(isFault, error);
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return false;
  }
}

}  // namespace XmlRpc
