// Writes the XML of a call: the method name and the parameters, escaped as
// XML 1.0 can carry them.
#include <cmath>
#include <new>
#include <string>

#include "XmlRpc.h"
#include "XmlRpcInternal.h"

namespace XmlRpc {

namespace {

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

// Appends `value`; the reason it cannot be sent, or null. The reasons are
// fixed texts, so a refusal deep inside a value costs nothing to hand up.
const char* AppendValue(std::string& xml, const XmlRpcValue& value) {
  xml += "<value>";
  switch (value.getType()) {
    case XmlRpcValue::TypeInvalid:
      return "a parameter has no value";
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
      if (!std::isfinite(d)) return "a double parameter is not a finite number";
      xml += "<double>" + PlainDoubleText(d) + "</double>";
      break;
    }
    case XmlRpcValue::TypeString: {
      std::string s;
      value.getString(s);
      xml += "<string>";
      if (!AppendEscaped(xml, s)) return "a string parameter holds a control character";
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
        if (const char* refusal = AppendValue(xml, element)) return refusal;
      }
      xml += "</data></array>";
      break;
    case XmlRpcValue::TypeStruct:
      xml += "<struct>";
      for (const auto& member : value.structValue()) {
        xml += "<member><name>";
        if (!AppendEscaped(xml, member.first)) return "a member name holds a control character";
        xml += "</name>";
        if (const char* refusal = AppendValue(xml, member.second)) return refusal;
        xml += "</member>";
      }
      xml += "</struct>";
      break;
  }
  xml += "</value>";
  return nullptr;
}

// Appends `param` as one parameter; the reason it cannot be sent, or null.
const char* AppendParam(std::string& xml, const XmlRpcValue& param) {
  xml += "<param>";
  if (const char* refusal = AppendValue(xml, param)) return refusal;
  xml += "</param>";
  return nullptr;
}

}  // namespace

Outcome<std::string> EncodeCall(const std::string& method, const XmlRpcValue& params) {
  try {
    std::string xml = kCallHead;
    if (method.empty() || !AppendEscaped(xml, method)) return Error{"unusable method name"};
    xml += "</methodName>\n<params>";
    if (params.getType() == XmlRpcValue::TypeArray) {
      for (const XmlRpcValue& param : params.arrayValue()) {
        if (const char* refusal = AppendParam(xml, param)) return Error{refusal};
      }
    } else if (params.valid()) {
      if (const char* refusal = AppendParam(xml, params)) return Error{refusal};
    }
    xml += "</params></methodCall>\n";
    return xml;
  } catch (const std::bad_alloc&) {
    return Error{"out of memory"};  // short enough to need no memory
  }
}

}  // namespace XmlRpc
