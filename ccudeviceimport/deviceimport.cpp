#include "deviceimport.h"

#include "XmlRpc.h"
#include "common/replacefile.h"
#include "texts.h"

using XmlRpc::XmlRpcClient;
using XmlRpc::XmlRpcValue;

namespace {

// printf of a format with two %s into a new text.
std::string Formatted(const char* format, const std::string& a, const std::string& b) {
  std::string text(format);
  text.reserve(text.size() + a.size() + b.size());
  std::size_t first = text.find("%s");
  text.replace(first, 2, a);
  text.replace(text.find("%s", first + a.size()), 2, b);
  return text;
}

std::string ImportFileName(const std::string& port) {
  return texts::kImportFilePrefix + port + texts::kImportFileSuffix;
}

// A service's text (a fault's, an answer's) as one line of bounded length: a
// service may send a text of any length and with line breaks of its own.
std::string OneBoundedLine(std::string text) {
  if (text.size() > texts::kMaxLoggedFaultBytes) {
    text.resize(texts::kMaxLoggedFaultBytes);
    text += texts::kCutMark;
  }
  return LineSafe(std::move(text));
}

}  // namespace

// The start of the next address marker at or after `from`: "ADDRESS:" right
// behind the start of a struct or a member before it. npos when there is none.
std::size_t FindAddressMarker(const std::string& text, std::size_t from) {
  // The name stands one character behind the start of its marker.
  std::size_t name = text.find(texts::kAddressName, from + 1);
  while (name != std::string::npos) {
    char before = text[name - 1];
    if (before == texts::kStructStart || before == texts::kMemberSeparator) return name - 1;
    name = text.find(texts::kAddressName, name + 1);
  }
  return std::string::npos;
}

std::string LineSafe(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

std::string DeviceImportLines(const std::string& resultText) {
  constexpr std::size_t kMarkerLength = sizeof texts::kAddressName;  // with the '[' or ','
  constexpr std::size_t kTypeMarkerLength = sizeof texts::kTypeMarker - 1;
  std::string lines;
  std::size_t marker = FindAddressMarker(resultText, 0);
  while (marker != std::string::npos) {
    std::size_t addressStart = marker + kMarkerLength + 1;  // behind the opening quote
    if (addressStart > resultText.size()) break;
    std::size_t addressEnd = resultText.find('"', addressStart);
    if (addressEnd == std::string::npos) break;
    std::string address = resultText.substr(addressStart, addressEnd - addressStart);
    std::size_t next = addressEnd + 1;
    if (address.find(':') == std::string::npos) {
      // Even a later record's TYPE, kept for compatibility: import files stay as they were written.
      std::size_t typeMarker = resultText.find(texts::kTypeMarker, addressEnd + 1);
      if (typeMarker == std::string::npos) break;
      std::size_t typeStart = typeMarker + kTypeMarkerLength;
      std::size_t typeEnd = resultText.find('"', typeStart);
      if (typeEnd == std::string::npos) break;
      // One line a device: a line break inside a value must not start another.
      lines += LineSafe(address) + ";" +
               LineSafe(resultText.substr(typeStart, typeEnd - typeStart)) + "\n";
      next = typeEnd + 1;
    }
    marker = FindAddressMarker(resultText, next);
  }
  return lines;
}

bool WriteDeviceImportFile(const std::string& resultText, const std::string& host,
                           const std::string& port) {
  std::string content = Formatted(texts::kImportFileHead, LineSafe(host), port);
  content += DeviceImportLines(resultText);
  return ReplaceFileContent(ImportFileName(port), content);
}

Result<Done, CallFault> ImportDevices(const std::string& host, const std::string& port) {
  const std::string hostPort = host + ":" + port;
  const std::string loggedHostPort = LineSafe(hostPort);
  std::string resultText;
  {
    // The reply's values are released before its text is scanned: for a
    // long device list, both together are the largest part of a run.
    XmlRpcValue params;
    params.assertArray(1);
    params[0] = XmlRpcValue(true);
    XmlRpcValue result;
    XmlRpcClient client(texts::kUrlScheme + hostPort);
    if (!client.execute(texts::kListMethod, params, result)) {
      return Failure<CallFault>{CallFault::CallFailed, texts::kLogCallFailed + loggedHostPort};
    }
    if (client.isFault()) {
      return Failure<CallFault>{CallFault::FaultReply, texts::kLogFaultStart +
                                                           OneBoundedLine(result.toText()) +
                                                           texts::kLogAtHost + loggedHostPort};
    }
    resultText = result.toText();
  }
  if (!WriteDeviceImportFile(resultText, host, port)) {
    return Failure<CallFault>{
        CallFault::FileNotWritten,
        texts::kLogFileFailed + ImportFileName(port) + texts::kLogAtHost + loggedHostPort};
  }
  return Done{};
}

std::string ImportedLogLine(const std::string& host, const std::string& port) {
  return texts::kLogImported + LineSafe(host + ":" + port) + texts::kLogImportedEnd;
}

Result<bool, CallFault> SendValueUsage(const std::string& target, const std::string& valueKind,
                                       int references, const std::string& host) {
  XmlRpcValue params;
  params.assertArray(3);
  params[0] = XmlRpcValue(target);
  params[1] = XmlRpcValue(valueKind);
  params[2].assertTypeOrInvalid(XmlRpcValue::TypeInt);
  params[2] = XmlRpcValue(references);
  XmlRpcValue result;
  XmlRpcClient client(host);
  if (!client.execute(texts::kUsageMethod, params, result)) {
    return Failure<CallFault>{CallFault::CallFailed, client.lastError()};
  }
  if (client.isFault()) {
    return Failure<CallFault>{CallFault::FaultReply, OneBoundedLine(result.toText())};
  }
  bool answer = false;
  if (!result.getBool(answer)) {
    return Failure<CallFault>{CallFault::AnswerNotBoolean, OneBoundedLine(result.toText())};
  }
  return answer;
}

bool WriteResultFile(const std::string& resultLog) {
  std::string content = texts::kResultFileHead;
  content += resultLog;
  content += "\n";
  return ReplaceFileContent(texts::kResultFileName, content);
}
