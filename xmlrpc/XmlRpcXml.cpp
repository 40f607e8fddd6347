// The XML of calls (written here) and of replies (read with expat).
#include <expat.h>
#include <openssl/evp.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "XmlRpc.h"
#include "XmlRpcInternal.h"

namespace XmlRpc {

namespace {

// Deeper replies are refused: the value tree is read recursively.
const int kMaxDepth = 200;

const char kCallHead[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<methodCall><methodName>";

// Appends `text` with the markup characters escaped. A carriage return is
// written as a reference because a parser turns a literal one into a line
// feed. False for control characters, which XML 1.0 cannot carry at all.
bool AppendEscaped(std::string& xml, const std::string& text) {
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        xml += "&amp;";
        break;
      case '<':
        xml += "&lt;";
        break;
      case '>':
        xml += "&gt;";
        break;
      case '\r':
        xml += "&#13;";
        break;
      default:
        if (byte < 0x20 && c != '\t' && c != '\n') return false;
        xml += c;
    }
  }
  return true;
}

bool AppendValue(std::string& xml, const XmlRpcValue& value, std::string& error) {
  xml += "<value>";
  switch (value.getType()) {
    case XmlRpcValue::TypeInvalid:
      error = "a parameter has no value";
      return false;
    case XmlRpcValue::TypeNil:
      xml += "<nil/>";
      break;
    case XmlRpcValue::TypeBoolean: {
      bool b = false;
      value.getBool(b);
      xml += b ? "<boolean>1</boolean>" : "<boolean>0</boolean>";
      break;
    }
    case XmlRpcValue::TypeInt: {
      int i = 0;
      value.getInt(i);
      xml += "<int>" + std::to_string(i) + "</int>";
      break;
    }
    case XmlRpcValue::TypeDouble: {
      double d = 0;
      value.getDouble(d);
      if (!std::isfinite(d)) {
        error = "a double parameter is not a finite number";
        return false;
      }
      xml += "<double>" + PlainDoubleText(d) + "</double>";
      break;
    }
    case XmlRpcValue::TypeString: {
      std::string s;
      value.getString(s);
      xml += "<string>";
      if (!AppendEscaped(xml, s)) {
        error = "a string parameter holds a control character";
        return false;
      }
      xml += "</string>";
      break;
    }
    case XmlRpcValue::TypeDateTime: {
      std::tm t{};
      value.getDateTime(t);
      xml += "<dateTime.iso8601>" + DateTimeText(t) + "</dateTime.iso8601>";
      break;
    }
    case XmlRpcValue::TypeBase64: {
      std::string bytes;
      value.getBinary(bytes);
      xml += "<base64>" + Base64Encode(bytes) + "</base64>";
      break;
    }
    case XmlRpcValue::TypeArray:
      xml += "<array><data>";
      for (const XmlRpcValue& element : value.arrayValue()) {
        if (!AppendValue(xml, element, error)) return false;
      }
      xml += "</data></array>";
      break;
    case XmlRpcValue::TypeStruct:
      xml += "<struct>";
      for (const auto& member : value.structValue()) {
        xml += "<member><name>";
        if (!AppendEscaped(xml, member.first)) {
          error = "a member name holds a control character";
          return false;
        }
        xml += "</name>";
        if (!AppendValue(xml, member.second, error)) return false;
        xml += "</member>";
      }
      xml += "</struct>";
      break;
  }
  xml += "</value>";
  return true;
}

// One element of a reply as expat hands it over; texts are already ISO-8859-1.
struct Node {
  std::string name;
  std::string text;
  std::vector<Node> children;
};

struct ParseState {
  XML_Parser parser = nullptr;
  std::vector<Node> open;  // the elements not yet closed, root first
  Node root;
  bool haveRoot = false;
  std::string error;
};

// expat hands out UTF-8; the programs work in ISO-8859-1.
std::string Latin1FromUtf8(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      i += 1;
    } else if ((lead & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
      unsigned code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
      out += code <= 0xFF ? static_cast<char>(code) : '?';
      i += 2;
    } else {
      out += '?';
      std::size_t length = (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
      i += length;
    }
  }
  return out;
}

void Fail(ParseState& state, const std::string& error) {
  if (state.error.empty()) state.error = error;
  XML_StopParser(state.parser, XML_FALSE);
}

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char**) {
  ParseState& state = *static_cast<ParseState*>(data);
  if (static_cast<int>(state.open.size()) >= kMaxDepth) {
    Fail(state, "reply nested too deeply");
    return;
  }
  state.open.emplace_back();
  state.open.back().name = name;
}

void XMLCALL OnEnd(void* data, const XML_Char*) {
  ParseState& state = *static_cast<ParseState*>(data);
  if (state.open.empty()) return;
  Node node = std::move(state.open.back());
  state.open.pop_back();
  node.text = Latin1FromUtf8(node.text);
  if (state.open.empty()) {
    state.root = std::move(node);
    state.haveRoot = true;
  } else {
    state.open.back().children.push_back(std::move(node));
  }
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  ParseState& state = *static_cast<ParseState*>(data);
  if (!state.open.empty()) state.open.back().text.append(text, static_cast<std::size_t>(length));
}

// Replies never need a document type; refusing it keeps entity tricks out.
void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  Fail(*static_cast<ParseState*>(data), "reply declares a document type");
}

bool IsBlank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::string Trimmed(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// A node that may hold child elements only: text besides them is an error.
bool OnlyElements(const Node& node, std::string& error) {
  if (IsBlank(node.text)) return true;
  error = "text inside <" + node.name + ">";
  return false;
}

bool LeafOnly(const Node& node, std::string& error) {
  if (node.children.empty()) return true;
  error = "element inside <" + node.name + ">";
  return false;
}

bool ReadValue(const Node& node, XmlRpcValue& value, std::string& error);

bool ReadInt(const std::string& raw, XmlRpcValue& value, std::string& error) {
  std::string text = Trimmed(raw);
  char* end = nullptr;
  errno = 0;
  long number = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || number < INT_MIN || number > INT_MAX) {
    error = "bad int \"" + text + "\"";
    return false;
  }
  value = XmlRpcValue(static_cast<int>(number));
  return true;
}

bool ReadDouble(const std::string& raw, XmlRpcValue& value, std::string& error) {
  std::string text = Trimmed(raw);
  char* end = nullptr;
  double number = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0') {
    error = "bad double \"" + text + "\"";
    return false;
  }
  value = XmlRpcValue(number);
  return true;
}

bool ReadArray(const Node& node, XmlRpcValue& value, std::string& error) {
  if (!OnlyElements(node, error)) return false;
  if (node.children.size() != 1 || node.children[0].name != "data") {
    error = "<array> without one <data>";
    return false;
  }
  const Node& data = node.children[0];
  if (!OnlyElements(data, error)) return false;
  value.assertArray(data.children.size());
  for (std::size_t i = 0; i < data.children.size(); ++i) {
    if (!ReadValue(data.children[i], value[i], error)) return false;
  }
  return true;
}

bool ReadStruct(const Node& node, XmlRpcValue& value, std::string& error) {
  if (!OnlyElements(node, error)) return false;
  value.assertStruct();
  for (const Node& member : node.children) {
    const Node* name = nullptr;
    const Node* memberValue = nullptr;
    if (member.name != "member" || !OnlyElements(member, error)) {
      if (error.empty()) error = "<" + member.name + "> inside <struct>";
      return false;
    }
    for (const Node& part : member.children) {
      if (part.name == "name" && !name) {
        name = &part;
      } else if (part.name == "value" && !memberValue) {
        memberValue = &part;
      } else {
        error = "<member> with <" + part.name + ">";
        return false;
      }
    }
    if (!name || !memberValue || !LeafOnly(*name, error)) {
      if (error.empty()) error = "<member> without <name> and <value>";
      return false;
    }
    // A repeated name keeps the last value, as most servers would.
    XmlRpcValue& slot = value[name->text];
    slot.invalidate();
    if (!ReadValue(*memberValue, slot, error)) return false;
  }
  return true;
}

bool ReadTyped(const Node& typed, XmlRpcValue& value, std::string& error) {
  const std::string& type = typed.name;
  if (type == "array") return ReadArray(typed, value, error);
  if (type == "struct") return ReadStruct(typed, value, error);
  if (!LeafOnly(typed, error)) return false;
  if (type == "int" || type == "i4") return ReadInt(typed.text, value, error);
  if (type == "double") return ReadDouble(typed.text, value, error);
  if (type == "string") {
    value = XmlRpcValue(typed.text);
    return true;
  }
  if (type == "boolean") {
    std::string text = Trimmed(typed.text);
    if (text != "0" && text != "1") {
      error = "bad boolean \"" + text + "\"";
      return false;
    }
    value = XmlRpcValue(text == "1");
    return true;
  }
  if (type == "dateTime.iso8601") {
    std::tm time{};
    if (!ParseDateTimeText(Trimmed(typed.text), time)) {
      error = "bad dateTime.iso8601 \"" + typed.text + "\"";
      return false;
    }
    value = XmlRpcValue(time);
    return true;
  }
  if (type == "base64") {
    std::string bytes;
    if (!Base64Decode(typed.text, bytes)) {
      error = "bad base64";
      return false;
    }
    value = XmlRpcValue(bytes.data(), bytes.size());
    return true;
  }
  if (type == "nil" || type == "ex:nil") {
    if (!IsBlank(typed.text)) {
      error = "text inside <nil>";
      return false;
    }
    value = XmlRpcValue::Nil();
    return true;
  }
  error = "unknown value type <" + type + ">";
  return false;
}

bool ReadValue(const Node& node, XmlRpcValue& value, std::string& error) {
  if (node.name != "value") {
    error = "<" + node.name + "> where a <value> belongs";
    return false;
  }
  if (node.children.empty()) {  // an untagged value is a string
    value = XmlRpcValue(node.text);
    return true;
  }
  if (!OnlyElements(node, error)) return false;
  if (node.children.size() != 1) {
    error = "<value> with more than one type";
    return false;
  }
  return ReadTyped(node.children[0], value, error);
}

// The one child of `node`, which must be named `name`.
const Node* OnlyChild(const Node& node, const char* name, std::string& error) {
  if (!OnlyElements(node, error)) return nullptr;
  if (node.children.size() != 1 || node.children[0].name != name) {
    error = "<" + node.name + "> without exactly one <" + name + ">";
    return nullptr;
  }
  return &node.children[0];
}

}  // namespace

std::string DoubleText(double value) {
  char buffer[40];
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
    if (std::strtod(buffer, nullptr) == value) break;
  }
  return buffer;
}

// Without an exponent, which the XML-RPC double does not allow; as short as
// reading it back to the same double permits.
std::string PlainDoubleText(double value) {
  std::vector<char> buffer(400);
  for (int precision = 0; precision <= 340; ++precision) {
    std::snprintf(buffer.data(), buffer.size(), "%.*f", precision, value);
    if (std::strtod(buffer.data(), nullptr) == value) break;
  }
  return buffer.data();
}

std::string DateTimeText(const std::tm& time) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02dT%02d:%02d:%02d", time.tm_year + 1900,
                time.tm_mon + 1, time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec);
  return buffer;
}

bool ParseDateTimeText(const std::string& text, std::tm& time) {
  int year, month, day, hour, minute, second, used = 0;
  const char* s = text.c_str();
  bool basic = text.size() == 17 && std::sscanf(s, "%4d%2d%2dT%2d:%2d:%2d%n", &year, &month, &day,
                                                &hour, &minute, &second, &used) == 6;
  bool extended = !basic && text.size() == 19 &&
                  std::sscanf(s, "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute,
                              &second, &used) == 6;
  if ((!basic && !extended) || used != static_cast<int>(text.size())) return false;
  for (char c : text) {
    if (c == '+' || c == ' ') return false;  // sscanf would let a sign or blank in
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
      hour < 0 || minute < 0 || second < 0 || year < 0) {
    return false;
  }
  time = std::tm{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  return true;
}

std::string Base64Encode(const std::string& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]),
                               reinterpret_cast<const unsigned char*>(bytes.data()),
                               static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

bool Base64Decode(const std::string& text, std::string& bytes) {
  std::string compact;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') compact += c;
  }
  if (compact.size() % 4 != 0) return false;
  std::string out(compact.size() / 4 * 3 + 1, '\0');
  int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                               reinterpret_cast<const unsigned char*>(compact.data()),
                               static_cast<int>(compact.size()));
  if (length < 0) return false;
  // The block decoder counts the padding as zero bytes.
  std::size_t padding = 0;
  if (!compact.empty() && compact.back() == '=') ++padding;
  if (compact.size() > 1 && compact[compact.size() - 2] == '=') ++padding;
  out.resize(static_cast<std::size_t>(length) - padding);
  bytes = out;
  return true;
}

bool EncodeCall(const std::string& method, const XmlRpcValue& params, std::string& xml,
                std::string& error) {
  xml = kCallHead;
  if (method.empty() || !AppendEscaped(xml, method)) {
    error = "unusable method name";
    return false;
  }
  xml += "</methodName>\n<params>";
  if (params.getType() == XmlRpcValue::TypeArray) {
    for (const XmlRpcValue& param : params.arrayValue()) {
      xml += "<param>";
      if (!AppendValue(xml, param, error)) return false;
      xml += "</param>";
    }
  } else if (params.valid()) {
    xml += "<param>";
    if (!AppendValue(xml, params, error)) return false;
    xml += "</param>";
  }
  xml += "</params></methodCall>\n";
  return true;
}

bool DecodeResponse(const std::string& xml, XmlRpcValue& result, bool& isFault,
                    std::string& error) {
  result.invalidate();
  isFault = false;
  ParseState state;
  state.parser = XML_ParserCreate(nullptr);
  if (!state.parser) {
    error = "out of memory";
    return false;
  }
  XML_SetUserData(state.parser, &state);
  XML_SetElementHandler(state.parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(state.parser, OnText);
  XML_SetStartDoctypeDeclHandler(state.parser, OnDoctype);
  bool parsed =
      XML_Parse(state.parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_OK;
  if (!parsed && state.error.empty()) {
    state.error = std::string("reply is not well-formed XML: ") +
                  XML_ErrorString(XML_GetErrorCode(state.parser)) + " at line " +
                  std::to_string(XML_GetCurrentLineNumber(state.parser));
  }
  XML_ParserFree(state.parser);
  if (!parsed || !state.haveRoot) {
    error = state.error.empty() ? "empty reply" : state.error;
    return false;
  }
  const Node& root = state.root;
  error.clear();
  bool ok = false;
  if (root.name != "methodResponse") {
    error = "reply is no methodResponse";
  } else if (OnlyElements(root, error) && root.children.size() == 1) {
    const Node& body = root.children[0];
    const Node* valueNode = nullptr;
    if (body.name == "params") {
      const Node* param = OnlyChild(body, "param", error);
      if (param) valueNode = OnlyChild(*param, "value", error);
    } else if (body.name == "fault") {
      valueNode = OnlyChild(body, "value", error);
      isFault = valueNode != nullptr;
    } else {
      error = "<" + body.name + "> inside <methodResponse>";
    }
    ok = valueNode && ReadValue(*valueNode, result, error);
  } else if (error.empty()) {
    error = "<methodResponse> without one <params> or <fault>";
  }
  if (!ok) {
    result.invalidate();
    isFault = false;
  }
  return ok;
}

}  // namespace XmlRpc
