#include "histquery/hostrule.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/textops.h"

namespace {

bool AllDigits(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string FirstWord(const std::string& text) {
  std::string word = Trimmed(text);
  return word.substr(0, word.find_first_of(" \t\r\n"));
}

}  // namespace

std::string HostName(const std::string& host) {
  std::string name;
  std::string port;
  if (!host.empty() && host[0] == '[') {
    size_t close = host.find(']');
    if (close == std::string::npos) return "";
    name = host.substr(0, close + 1);
    port = host.substr(close + 1);
  } else {
    size_t colon = host.find(':');
    name = host.substr(0, colon);
    if (colon != std::string::npos) port = host.substr(colon);
  }
  if (!port.empty() && (port[0] != ':' || !AllDigits(port.substr(1)))) return "";
  // "box.lan." is the same name written as absolute.
  if (!name.empty() && name.back() == '.') name.pop_back();
  return LowerCase(name);
}

bool IsAddressLiteral(const std::string& name) {
  unsigned char address[16];
  if (name.size() > 2 && name.front() == '[' && name.back() == ']')
    return inet_pton(AF_INET6, name.substr(1, name.size() - 2).c_str(), address) == 1;
  return inet_pton(AF_INET, name.c_str(), address) == 1;
}

std::vector<std::string> OwnHostNames(const std::string& hostName, const std::string& domain) {
  std::string name = HostName(hostName);
  if (name.empty()) return {};
  std::vector<std::string> names = {name};
  size_t dot = name.find('.');
  if (dot != std::string::npos) {
    names.push_back(name.substr(0, dot));
  } else {
    std::string suffix = HostName(domain);
    if (!suffix.empty()) names.push_back(name + "." + suffix);
  }
  return names;
}

std::string ConfiguredDomain(FILE* resolvConf) {
  std::string domain;
  if (resolvConf == nullptr) return domain;
  char line[256];
  for (int count = 0; count < 100 && std::fgets(line, sizeof line, resolvConf) != nullptr;
       ++count) {
    std::string text = line;
    for (const char* keyword : {"domain", "search"}) {
      size_t length = std::strlen(keyword);
      if (text.compare(0, length, keyword) == 0 && text.size() > length &&
          (text[length] == ' ' || text[length] == '\t'))
        domain = FirstWord(text.substr(length));
    }
  }
  return LowerCase(Trimmed(domain));
}

std::vector<std::string> ListedHostNames(FILE* allowFile) {
  std::vector<std::string> names;
  if (allowFile == nullptr) return names;
  std::string text(kMaxAllowedHostsBytes, '\0');
  text.resize(std::fread(&text[0], 1, text.size(), allowFile));
  // A file cut at the bound ends in a piece of a name, which might name
  // another host: only whole lines count then.
  if (text.size() == kMaxAllowedHostsBytes) text.resize(text.rfind('\n') + 1);
  // An editor may save the file with a UTF-8 byte-order mark: it is no part
  // of the first name.
  size_t begin = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    std::string name = HostName(Trimmed(line.substr(0, line.find('#'))));
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

bool HostAllowed(const char* host, const std::vector<std::string>& names) {
  if (host == nullptr || host[0] == '\0') return true;
  std::string name = HostName(host);
  if (name.empty()) return false;
  if (IsAddressLiteral(name) || name == "localhost") return true;
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool CgiHostAllowed(const std::string& allowFilePath) {
  const char* host = std::getenv("HTTP_HOST");
  if (HostAllowed(host, {})) return true;
  char hostName[256] = "";
  if (gethostname(hostName, sizeof hostName - 1) != 0) hostName[0] = '\0';
  std::string domain;
  if (FILE* resolvConf = std::fopen("/etc/resolv.conf", "r")) {
    domain = ConfiguredDomain(resolvConf);
    std::fclose(resolvConf);
  }
  std::vector<std::string> names = OwnHostNames(hostName, domain);
  if (FILE* allowFile = std::fopen(allowFilePath.c_str(), "r")) {
    std::vector<std::string> listed = ListedHostNames(allowFile);
    std::fclose(allowFile);
    names.insert(names.end(), listed.begin(), listed.end());
  }
  return HostAllowed(host, names);
}

std::string CgiHostName() {
  const char* host = std::getenv("HTTP_HOST");
  return host != nullptr ? HostName(host) : "";
}

std::string AllowFileBesideProgram() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  std::string program(path, static_cast<size_t>(length));
  return program.substr(0, program.rfind('/') + 1) + kAllowedHostsFile;
}
