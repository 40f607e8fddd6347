// The XML-RPC reply parser and the text form of what it yields. A value it
// accepts and the encoder can send must come back the same when read again.
#include <cstdint>
#include <string>

#include "XmlRpc.h"
#include "fuzzsupport.h"

using XmlRpc::XmlRpcValue;

namespace {

constexpr char kCallStart[] = "<methodCall><methodName>m</methodName>\n<params>";
constexpr char kCallEnd[] = "</params></methodCall>";

// The call that carries `value` as its one parameter, rewritten into the
// reply that carries it as its result.
bool AsReply(const XmlRpcValue& value, std::string& reply) {
  XmlRpcValue params;
  params.assertArray(1);
  params[0] = value;
  XmlRpc::Outcome<std::string> call = XmlRpc::EncodeCall("m", params);
  if (!call.ok()) return false;
  reply = call.value();
  size_t start = reply.find(kCallStart);
  size_t end = reply.rfind(kCallEnd);
  Require(start != std::string::npos && end != std::string::npos, "EncodeCall: unknown frame");
  reply.replace(end, sizeof kCallEnd - 1, "</params></methodResponse>");
  reply.replace(start, sizeof kCallStart - 1, "<methodResponse><params>");
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string xml(reinterpret_cast<const char*>(data), size);
  XmlRpc::Outcome<XmlRpc::Response> response = XmlRpc::DecodeResponse(xml);
  if (!response.ok()) {
    Require(!response.error().empty(), "DecodeResponse: failure without a reason");
    return 0;
  }
  const XmlRpcValue& result = response.value().value;
  Require(result.valid(), "DecodeResponse: success without a value");
  std::string text = result.toText();
  Require(!text.empty(), "toText: empty text");

  std::string reply;
  if (!AsReply(result, reply)) return 0;  // not sendable: a NaN, a control character
  XmlRpc::Outcome<XmlRpc::Response> again = XmlRpc::DecodeResponse(reply);
  Require(again.ok(), "encoded value not readable");
  Require(!again.value().isFault && again.value().value == result,
          "encoded value reads back different");
  Require(again.value().value.toText() == text, "encoded value has another text");
  return 0;
}
