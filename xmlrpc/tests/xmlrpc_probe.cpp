// xmlrpc_probe [--timeout S] [--max-bytes N] URL METHOD [ARG...]
//
// Makes one call and prints one line: "ok " + the result's text, "fault " +
// the fault's text, or "failed " + the reason. Exit status 0, 2 or 1.
// Each ARG is a typed parameter: s:text, i:42, b:1, d:1.5, t:20240305T14:30:00,
// x:bytes (base64), n: (nil).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "XmlRpc.h"

using XmlRpc::XmlRpcValue;

static bool ParamFrom(const std::string& arg, XmlRpcValue& value) {
  if (arg.size() < 2 || arg[1] != ':') return false;
  std::string text = arg.substr(2);
  switch (arg[0]) {
    case 's':
      value = XmlRpcValue(text);
      return true;
    case 'i':
      value = XmlRpcValue(std::atoi(text.c_str()));
      return true;
    case 'b':
      value = XmlRpcValue(text == "1");
      return true;
    case 'd':
      value = XmlRpcValue(std::strtod(text.c_str(), nullptr));
      return true;
    case 't': {
      std::tm time{};
      if (std::sscanf(text.c_str(), "%4d%2d%2dT%2d:%2d:%2d", &time.tm_year, &time.tm_mon,
                      &time.tm_mday, &time.tm_hour, &time.tm_min, &time.tm_sec) != 6) {
        return false;
      }
      time.tm_year -= 1900;
      time.tm_mon -= 1;
      value = XmlRpcValue(time);
      return true;
    }
    case 'x':
      value = XmlRpcValue(text.data(), text.size());
      return true;
    case 'n':
      value = XmlRpcValue::Nil();
      return true;
  }
  return false;
}

int main(int argc, char** argv) {
  long timeout = XmlRpc::XmlRpcClient::kDefaultTotalTimeoutSeconds;
  long maxBytes = 0;
  int i = 1;
  for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    if (std::strcmp(argv[i], "--timeout") == 0) timeout = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--max-bytes") == 0) maxBytes = std::atol(argv[i + 1]);
  }
  if (argc - i < 2) {
    std::fprintf(stderr, "usage: xmlrpc_probe [--timeout S] [--max-bytes N] URL METHOD [ARG...]\n");
    return 64;
  }
  XmlRpc::XmlRpcClient client(argv[i]);
  client.setTimeouts(XmlRpc::XmlRpcClient::kDefaultConnectTimeoutSeconds, timeout);
  if (maxBytes > 0) client.setMaxReplyBytes(static_cast<std::size_t>(maxBytes));
  std::string method = argv[i + 1];
  XmlRpcValue params;
  params.assertArray(0);
  for (int p = i + 2; p < argc; ++p) {
    if (!ParamFrom(argv[p], params[static_cast<std::size_t>(p - i - 2)])) {
      std::fprintf(stderr, "bad parameter %s\n", argv[p]);
      return 64;
    }
  }
  XmlRpcValue result;
  if (!client.execute(method, params, result)) {
    std::printf("failed %s\n", client.lastError().c_str());
    return 1;
  }
  std::printf("%s %s\n", client.isFault() ? "fault" : "ok", result.toText().c_str());
  return client.isFault() ? 2 : 0;
}
