// The device import scan, on the input as the result text and, where the
// input is a reply the parser accepts, on that reply's text as the import
// reads it.
#include <cstdint>
#include <string>

#include "XmlRpc.h"
#include "deviceimport.h"
#include "fuzzsupport.h"

namespace {

void CheckLines(const std::string& resultText) {
  std::string lines = DeviceImportLines(resultText);
  Require(lines.empty() || lines.back() == '\n', "DeviceImportLines: last line unended");
  Require(lines.find('"') == std::string::npos, "DeviceImportLines: quote in a line");
  Require(lines.size() <= resultText.size(), "DeviceImportLines: more than the text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  CheckLines(text);
  XmlRpc::Outcome<XmlRpc::Response> response = XmlRpc::DecodeResponse(text);
  if (response.ok() && !response.value().isFault) CheckLines(response.value().value.toText());
  return 0;
}
