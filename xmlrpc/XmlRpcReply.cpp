// Reads the XML of a reply with expat, building its values as the pieces
// arrive.
#include <expat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "XmlRpc.h"
#include "XmlRpcInternal.h"

namespace XmlRpc {

namespace {

// Deeper replies are refused: values and their texts are copied and freed
// recursively.
const int kMaxDepth = 200;
// expat is fed at most this much at a time, so that the markup bound below
// is checked often enough to hold.
const std::size_t kMaxPiece = 64u * 1024u;
// expat holds a tag, a comment or any other piece of markup whole until it
// ends; text it hands out as it comes. A reply needs no markup near this long.
const std::size_t kMaxMarkupBytes = 1024u * 1024u;
// A frame's text buffer is kept for the next element at its depth only while
// it is small: a long one would stay held for the rest of the reply.
const std::size_t kKeptBufferBytes = 4096;

// How the reader takes an element, from its name and where it stands.
enum class Role : unsigned char {
  Ignored,  // never looked at: a reply with it is refused for another reason
  Root,     // <methodResponse>
  Params,
  Param,
  Fault,
  Value,
  Array,
  Data,
  Struct,
  Member,
  MemberName,
  Leaf,  // a typed value that holds text only
};

enum class LeafType : unsigned char {
  Int,
  I8,
  Double,
  String,
  Boolean,
  DateTime,
  Base64,
  Nil,
  Unknown
};

// An element not yet closed. Its checks run when it closes; each element has
// a place in the order in which the checks of a whole reply are made (the
// document order, but a member's <name> counts before its <value>), and
// among several faults of a reply the one earliest in that order is
// reported, so the reason does not depend on where a fault sits in the text.
struct Frame {
  Role role = Role::Ignored;
  LeafType leaf = LeafType::Unknown;
  bool nonBlank = false;        // text other than blanks seen (containers only)
  bool firstChildFits = false;  // the first child is the one element allowed here
  bool haveName = false;        // Member: its parts so far
  bool haveValue = false;
  bool nameHasElement = false;
  std::size_t order = 0;  // place of the element's checks
  std::size_t children = 0;
  std::string badChild;           // the first child that does not belong (faulty replies only)
  std::string text;               // Value (until its first child), Leaf: the text as read
  std::string* sink = nullptr;    // where the element's text goes; null: only its blankness counts
  XmlRpcValue* target = nullptr;  // the value the element fills (while building)
  std::string memberName;         // Member: the name, in ISO-8859-1 once read
  XmlRpcValue pending;            // Member: its value until the member closes
};

}  // namespace

struct ReplyReader {
  XML_Parser parser = nullptr;
  XmlRpcValue* result = nullptr;
  std::size_t maxValues = 0;
  std::size_t maxTextBytes = 0;
  std::size_t values = 0;     // <value> elements so far
  std::size_t textBytes = 0;  // text held: in values, member names and open elements
  std::size_t fedBytes = 0;
  std::size_t eventByte = 0;  // where expat last handed something out
  std::vector<Frame> frames;  // frames[0 .. depth) are open, root first
  std::size_t depth = 0;
  std::size_t nextOrder = 0;
  bool haveRoot = false;
  bool isFault = false;
  bool lastFed = false;      // the final piece went in
  bool parseFailed = false;  // not well formed, or stopped by a handler
  std::string parseError;    // why a handler stopped the parser, or the parser's complaint
  bool refused = false;      // well formed so far, but not a reply we take
  std::size_t refusedOrder = 0;
  std::string refusal;
};

namespace {

// expat hands out UTF-8; the programs work in ISO-8859-1. Converts in place:
// the ISO-8859-1 form is never longer.
void Latin1FromUtf8(std::string& text) {
  std::size_t size = text.size();
  std::size_t out = 0;
  for (std::size_t i = 0; i < size;) {
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
      std::size_t length = (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
      i += length;
    }
  }
  text.resize(out);
}

void Fail(ReplyReader& reader, const std::string& error) {
  if (!reader.parseFailed) reader.parseError = error;
  reader.parseFailed = true;
  XML_StopParser(reader.parser, XML_FALSE);
}

// Text that is no longer held: read into a number, or not wanted after all.
void Release(ReplyReader& reader, std::string& text) {
  reader.textBytes -= text.size() < reader.textBytes ? text.size() : reader.textBytes;
  text.clear();
  if (text.capacity() > kKeptBufferBytes) text.shrink_to_fit();
}

// Notes a reason to refuse the reply; the earliest in check order stays.
void Refuse(ReplyReader& reader, std::size_t order, const std::string& reason) {
  if (reader.refused && reader.refusedOrder <= order) return;
  reader.refused = true;
  reader.refusedOrder = order;
  reader.refusal = reason;
}

// Once a reply is refused its values are of no use; only the checks go on.
bool Building(const ReplyReader& reader) {
  return !reader.refused;
}

bool IsBlank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

bool IsBlank(const char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

std::string Trimmed(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool Is(const XML_Char* name, const char* wanted) {
  return std::strcmp(name, wanted) == 0;
}

LeafType LeafTypeOf(const XML_Char* name) {
  if (Is(name, "string")) return LeafType::String;
  if (Is(name, "int") || Is(name, "i4")) return LeafType::Int;
  // The common extensions of the format; many servers send them.
  if (Is(name, "i8") || Is(name, "ex:i8")) return LeafType::I8;
  if (Is(name, "boolean")) return LeafType::Boolean;
  if (Is(name, "double")) return LeafType::Double;
  if (Is(name, "dateTime.iso8601")) return LeafType::DateTime;
  if (Is(name, "base64")) return LeafType::Base64;
  if (Is(name, "nil") || Is(name, "ex:nil")) return LeafType::Nil;
  return LeafType::Unknown;
}

// The frame for a new element, with the state of an earlier one at that
// depth cleared but its buffers kept for reuse.
Frame& PushFrame(ReplyReader& reader) {
  if (reader.depth == reader.frames.size()) reader.frames.emplace_back();
  Frame& frame = reader.frames[reader.depth++];
  frame.role = Role::Ignored;
  frame.leaf = LeafType::Unknown;
  frame.nonBlank = false;
  frame.firstChildFits = false;
  frame.haveName = false;
  frame.haveValue = false;
  frame.nameHasElement = false;
  frame.order = reader.nextOrder++;
  frame.children = 0;
  frame.badChild.clear();
  Release(reader, frame.text);
  frame.sink = nullptr;
  frame.target = nullptr;
  return frame;
}

void StartValue(ReplyReader& reader, Frame& frame, XmlRpcValue* target) {
  if (++reader.values > reader.maxValues) {
    Fail(reader, "reply holds more than " + std::to_string(reader.maxValues) + " values");
    return;
  }
  frame.role = Role::Value;
  frame.sink = &frame.text;
  frame.target = Building(reader) ? target : nullptr;
}

// Gives the new element `frame`, the child of `parent`, its role.
void PlaceChild(ReplyReader& reader, Frame& parent, Frame& frame, const XML_Char* name) {
  bool first = parent.children == 0;
  if (parent.role == Role::Value && first) {
    // Beside a child only the blankness of a value's text counts.
    if (!IsBlank(parent.text)) parent.nonBlank = true;
    Release(reader, parent.text);
    parent.sink = nullptr;
  }
  switch (parent.role) {
    case Role::Ignored:
    case Role::Leaf:
    case Role::MemberName:
      break;
    case Role::Root:
      if (!first) break;
      if (Is(name, "params")) {
        frame.role = Role::Params;
      } else if (Is(name, "fault")) {
        frame.role = Role::Fault;
      } else {
        parent.badChild = name;
        break;
      }
      parent.firstChildFits = true;
      break;
    case Role::Params:
      if (first && Is(name, "param")) {
        frame.role = Role::Param;
        parent.firstChildFits = true;
      }
      break;
    case Role::Param:
    case Role::Fault:
      if (first && Is(name, "value")) {
        StartValue(reader, frame, reader.result);
        parent.firstChildFits = true;
      }
      break;
    case Role::Value:
      if (!first) break;
      if (Is(name, "array")) {
        frame.role = Role::Array;
        if (parent.target) ValueAccess::SetType(*parent.target, XmlRpcValue::TypeArray);
      } else if (Is(name, "struct")) {
        frame.role = Role::Struct;
        if (parent.target) ValueAccess::SetType(*parent.target, XmlRpcValue::TypeStruct);
      } else {
        frame.role = Role::Leaf;
        frame.leaf = LeafTypeOf(name);
        frame.sink = &frame.text;
      }
      frame.target = parent.target;
      break;
    case Role::Array:
      if (first && Is(name, "data")) {
        frame.role = Role::Data;
        frame.target = parent.target;
        parent.firstChildFits = true;
      }
      break;
    case Role::Data:
      if (Is(name, "value")) {
        XmlRpcValue* element = nullptr;
        if (parent.target && Building(reader)) {
          element = &ValueAccess::Array(*parent.target).emplace_back();
        }
        StartValue(reader, frame, element);
      } else {
        Refuse(reader, frame.order, "<" + std::string(name) + "> where a <value> belongs");
      }
      break;
    case Role::Struct:
      if (Is(name, "member")) {
        frame.role = Role::Member;
        frame.target = parent.target;
        Release(reader, frame.memberName);
        frame.pending.invalidate();
      } else {
        Refuse(reader, frame.order, "<" + std::string(name) + "> inside <struct>");
      }
      break;
    case Role::Member:
      if (Is(name, "name") && !parent.haveName) {
        parent.haveName = true;
        frame.role = Role::MemberName;
        frame.sink = &parent.memberName;
      } else if (Is(name, "value") && !parent.haveValue) {
        parent.haveValue = true;
        StartValue(reader, frame, parent.target ? &parent.pending : nullptr);
      } else if (parent.badChild.empty()) {
        parent.badChild = name;
      }
      break;
  }
  ++parent.children;
}

// Where expat last handed something out: what it holds beyond that is
// markup it has not finished reading.
void Seen(ReplyReader& reader) {
  XML_Index at = XML_GetCurrentByteIndex(reader.parser);
  if (at > 0) reader.eventByte = static_cast<std::size_t>(at);
}

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char**) {
  ReplyReader& reader = *static_cast<ReplyReader*>(data);
  Seen(reader);
  if (reader.parseFailed) return;
  if (reader.depth >= static_cast<std::size_t>(kMaxDepth)) {
    Fail(reader, "reply nested too deeply");
    return;
  }
  Frame& frame = PushFrame(reader);
  if (reader.depth == 1) {
    if (Is(name, "methodResponse")) {
      frame.role = Role::Root;
    } else {
      Refuse(reader, frame.order, "reply is no methodResponse");
    }
    return;
  }
  PlaceChild(reader, reader.frames[reader.depth - 2], frame, name);
}

// A text quoted in a reason, cut short: the reason is for a reader, and the
// text may be as long as the reply.
std::string Quoted(const std::string& text) {
  const std::size_t kShown = 40;
  if (text.size() <= kShown) return "\"" + text + "\"";
  return "\"" + text.substr(0, kShown) + "\"...";
}

bool ReadWholeNumber(const std::string& raw, long long low, long long high, long long& value,
                     const char* kind, std::string& error) {
  std::string text = Trimmed(raw);
  char* end = nullptr;
  errno = 0;
  long long number = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || number < low || number > high) {
    error = std::string("bad ") + kind + " " + Quoted(text);
    return false;
  }
  value = number;
  return true;
}

bool ReadInt(const std::string& raw, int& value, std::string& error) {
  long long number = 0;
  if (!ReadWholeNumber(raw, INT_MIN, INT_MAX, number, "int", error)) return false;
  value = static_cast<int>(number);
  return true;
}

bool ReadDouble(const std::string& raw, double& value, std::string& error) {
  std::string text = Trimmed(raw);
  char* end = nullptr;
  double number = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0') {
    error = "bad double " + Quoted(text);
    return false;
  }
  value = number;
  return true;
}

// Reads the text of a typed value into `target` (when building).
bool ReadLeaf(LeafType type, const XML_Char* name, std::string& text, XmlRpcValue* target,
              std::string& error) {
  switch (type) {
    case LeafType::String:
      if (target) {
        Latin1FromUtf8(text);
        ValueAccess::SetText(*target, text);
        text.clear();
      }
      return true;
    case LeafType::Int: {
      Latin1FromUtf8(text);
      int number = 0;
      if (!ReadInt(text, number, error)) return false;
      if (target) ValueAccess::SetInt(*target, number);
      return true;
    }
    case LeafType::I8: {
      // The value type has 32-bit integers only: a larger one is kept as the
      // nearest double (exact up to 2^53), as a reader of the text expects.
      Latin1FromUtf8(text);
      long long number = 0;
      if (!ReadWholeNumber(text, LLONG_MIN, LLONG_MAX, number, "i8", error)) return false;
      if (target && number >= INT_MIN && number <= INT_MAX) {
        ValueAccess::SetInt(*target, static_cast<int>(number));
      } else if (target) {
        ValueAccess::SetDouble(*target, static_cast<double>(number));
      }
      return true;
    }
    case LeafType::Double: {
      Latin1FromUtf8(text);
      double number = 0;
      if (!ReadDouble(text, number, error)) return false;
      if (target) ValueAccess::SetDouble(*target, number);
      return true;
    }
    case LeafType::Boolean: {
      Latin1FromUtf8(text);
      std::string trimmed = Trimmed(text);
      if (trimmed != "0" && trimmed != "1") {
        error = "bad boolean " + Quoted(trimmed);
        return false;
      }
      if (target) ValueAccess::SetBool(*target, trimmed == "1");
      return true;
    }
    case LeafType::DateTime: {
      Latin1FromUtf8(text);
      std::tm time{};
      if (!ParseDateTimeText(Trimmed(text), time)) {
        error = "bad dateTime.iso8601 " + Quoted(text);
        return false;
      }
      if (target) ValueAccess::SetDateTime(*target, time);
      return true;
    }
    case LeafType::Base64: {
      Latin1FromUtf8(text);
      std::string bytes;
      if (!Base64Decode(text, bytes)) {
        error = "bad base64";
        return false;
      }
      if (target) {
        ValueAccess::SetType(*target, XmlRpcValue::TypeBase64);
        ValueAccess::SetText(*target, bytes);
      }
      return true;
    }
    case LeafType::Nil:
      if (!IsBlank(text)) {
        error = "text inside <nil>";
        return false;
      }
      if (target) ValueAccess::SetType(*target, XmlRpcValue::TypeNil);
      return true;
    case LeafType::Unknown:
      break;
  }
  error = "unknown value type <" + std::string(name) + ">";
  return false;
}

// The checks of an element that may hold one child element and nothing else.
bool OnlyChildFits(ReplyReader& reader, const Frame& frame, const char* reason) {
  if (frame.children == 1 && frame.firstChildFits) return true;
  Refuse(reader, frame.order, reason);
  return false;
}

bool NoText(ReplyReader& reader, const Frame& frame, const XML_Char* name) {
  if (!frame.nonBlank) return true;
  Refuse(reader, frame.order, "text inside <" + std::string(name) + ">");
  return false;
}

// The checks and the building an element leaves for its end.
void CloseFrame(ReplyReader& reader, Frame& frame, const XML_Char* name) {
  // A later fault of the reply cannot change the reason given.
  bool check = !reader.refused || frame.order < reader.refusedOrder;
  switch (frame.role) {
    case Role::Ignored:
      break;
    case Role::Root:
      if (!check || !NoText(reader, frame, name)) break;
      if (frame.children != 1) {
        Refuse(reader, frame.order, "<methodResponse> without one <params> or <fault>");
      } else if (!frame.firstChildFits) {
        Refuse(reader, frame.order, "<" + frame.badChild + "> inside <methodResponse>");
      }
      break;
    case Role::Params:
      if (check && NoText(reader, frame, name)) {
        OnlyChildFits(reader, frame, "<params> without exactly one <param>");
      }
      break;
    case Role::Param:
      if (check && NoText(reader, frame, name)) {
        OnlyChildFits(reader, frame, "<param> without exactly one <value>");
      }
      break;
    case Role::Fault:
      if (check && NoText(reader, frame, name) &&
          OnlyChildFits(reader, frame, "<fault> without exactly one <value>")) {
        reader.isFault = true;
      }
      break;
    case Role::Value:
      if (frame.children == 0) {  // an untagged value is a string
        if (frame.target && Building(reader)) {
          // Its text stays counted: the value holds it now.
          Latin1FromUtf8(frame.text);
          ValueAccess::SetText(*frame.target, frame.text);
          frame.text.clear();
        }
        Release(reader, frame.text);
      } else if (check) {
        if (frame.nonBlank) {
          Refuse(reader, frame.order, "text inside <value>");
        } else if (frame.children != 1) {
          Refuse(reader, frame.order, "<value> with more than one type");
        }
      }
      break;
    case Role::Array:
      if (check && NoText(reader, frame, name)) {
        OnlyChildFits(reader, frame, "<array> without one <data>");
      }
      break;
    case Role::Data:
    case Role::Struct:
      if (check) NoText(reader, frame, name);
      break;
    case Role::Member: {
      if (!check || !NoText(reader, frame, name)) break;
      if (!frame.badChild.empty()) {
        Refuse(reader, frame.order, "<member> with <" + frame.badChild + ">");
      } else if (!frame.haveName || !frame.haveValue) {
        Refuse(reader, frame.order, "<member> without <name> and <value>");
      } else if (frame.nameHasElement) {
        Refuse(reader, frame.order, "element inside <name>");
      } else if (frame.target && Building(reader)) {
        // A repeated name keeps the last value, as most servers would.
        ValueAccess::Members(*frame.target)
            .insert_or_assign(std::move(frame.memberName), std::move(frame.pending));
      }
      break;
    }
    case Role::MemberName: {
      // Its faults count as the member's, which checks them first.
      Frame& member = reader.frames[reader.depth - 2];
      if (frame.children > 0) member.nameHasElement = true;
      Latin1FromUtf8(member.memberName);
      break;
    }
    case Role::Leaf: {
      XmlRpcValue* target = check && Building(reader) ? frame.target : nullptr;
      std::string error;
      if (!check) {
      } else if (frame.children > 0) {
        Refuse(reader, frame.order, "element inside <" + std::string(name) + ">");
      } else if (!ReadLeaf(frame.leaf, name, frame.text, target, error)) {
        Refuse(reader, frame.order, error);
      } else if (frame.leaf == LeafType::Base64 && target) {
        frame.text.clear();  // stays counted for the bytes the value holds now
      }
      // A string's text went into its value (and stays counted); a number's
      // text is done with.
      Release(reader, frame.text);
      break;
    }
  }
}

void XMLCALL OnEnd(void* data, const XML_Char* name) {
  ReplyReader& reader = *static_cast<ReplyReader*>(data);
  Seen(reader);
  if (reader.parseFailed || reader.depth == 0) return;
  CloseFrame(reader, reader.frames[reader.depth - 1], name);
  if (--reader.depth == 0) reader.haveRoot = true;
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  ReplyReader& reader = *static_cast<ReplyReader*>(data);
  Seen(reader);
  if (reader.parseFailed || reader.depth == 0) return;
  Frame& frame = reader.frames[reader.depth - 1];
  std::size_t size = static_cast<std::size_t>(length);
  if (frame.sink) {
    if (size > reader.maxTextBytes - reader.textBytes) {
      Fail(reader,
           "reply holds more than " + std::to_string(reader.maxTextBytes) + " bytes of text");
      return;
    }
    reader.textBytes += size;
    frame.sink->append(text, size);
  } else if (!frame.nonBlank && !IsBlank(text, size)) {
    frame.nonBlank = true;
  }
}

// Comments, processing instructions, blanks outside the root: nothing to
// read, but they show how far expat got.
void XMLCALL OnOther(void* data, const XML_Char*, int) {
  Seen(*static_cast<ReplyReader*>(data));
}

// Replies never need a document type; refusing it keeps entity tricks out.
void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  Fail(*static_cast<ReplyReader*>(data), "reply declares a document type");
}

}  // namespace

ReplyReader* StartReply(XmlRpcValue& result, std::size_t maxValues, std::size_t maxTextBytes) {
  result.invalidate();
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (!parser) return nullptr;
  ReplyReader* reader = new ReplyReader;
  reader->parser = parser;
  reader->result = &result;
  reader->maxValues = maxValues;
  reader->maxTextBytes = maxTextBytes;
  // Frames hold values and texts that deeper frames point into: they must not move.
  reader->frames.reserve(static_cast<std::size_t>(kMaxDepth));
  XML_SetUserData(parser, reader);
  XML_SetElementHandler(parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser, OnText);
  XML_SetStartDoctypeDeclHandler(parser, OnDoctype);
  XML_SetDefaultHandlerExpand(parser, OnOther);
  return reader;
}

void FeedReply(ReplyReader* reader, const char* data, std::size_t size, bool last) {
  if (!reader || reader->parseFailed || reader->lastFed) return;
  do {
    std::size_t piece = size < kMaxPiece ? size : kMaxPiece;
    bool final = last && piece == size;
    if (XML_Parse(reader->parser, data, static_cast<int>(piece), final ? XML_TRUE : XML_FALSE) !=
        XML_STATUS_OK) {
      if (!reader->parseFailed) {
        reader->parseError = std::string("reply is not well-formed XML: ") +
                             XML_ErrorString(XML_GetErrorCode(reader->parser)) + " at line " +
                             std::to_string(XML_GetCurrentLineNumber(reader->parser));
      }
      reader->parseFailed = true;
      return;
    }
    reader->fedBytes += piece;
    if (reader->fedBytes - reader->eventByte > kMaxMarkupBytes) {
      reader->parseError = "reply holds a tag, comment or other markup longer than " +
                           std::to_string(kMaxMarkupBytes) + " bytes";
      reader->parseFailed = true;
      return;
    }
    data += piece;
    size -= piece;
  } while (size > 0);
  reader->lastFed = last;
}

bool ReplyFailed(const ReplyReader* reader) {
  return !reader || reader->parseFailed;
}

bool FinishReply(ReplyReader* reader, bool& isFault, std::string& error) {
  isFault = false;
  if (!reader) {
    error = "out of memory";
    return false;
  }
  FeedReply(reader, "", 0, true);
  bool ok = false;
  if (reader->parseFailed || !reader->haveRoot) {
    error = reader->parseError.empty() ? "empty reply" : reader->parseError;
  } else if (reader->refused) {
    error = reader->refusal;
  } else {
    error.clear();
    isFault = reader->isFault;
    ok = true;
  }
  if (!ok) reader->result->invalidate();
  XML_ParserFree(reader->parser);
  delete reader;
  return ok;
}

void DiscardReply(ReplyReader* reader) {
  if (!reader) return;
  reader->result->invalidate();
  XML_ParserFree(reader->parser);
  delete reader;
}

bool DecodeResponse(const std::string& xml, XmlRpcValue& result, bool& isFault,
                    std::string& error) {
  isFault = false;
  ReplyReader* reader = StartReply(result);
  FeedReply(reader, xml.data(), xml.size(), true);
  return FinishReply(reader, isFault, error);
}

}  // namespace XmlRpc
