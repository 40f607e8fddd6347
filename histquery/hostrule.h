// Which host names the report answers to.
//
// A foreign page whose own name is made to resolve to the device (DNS
// rebinding) is the same origin as the device to the browser: it could read
// every page and send changes that look like our own. Such a request names
// the foreign host in Host, so only names that are the device's own pass.
// IP address literals always pass (a rebound name never is one), as do
// "localhost", the machine's host name (alone or with its domain) and the
// names an installer lists, one a line, in HistHosts.cfg beside the program.
// A request without Host is no browser's and passes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

constexpr const char kAllowedHostsFile[] = "HistHosts.cfg";
// The allow file is a short list typed by hand: anything beyond this is not
// read.
constexpr size_t kMaxAllowedHostsBytes = 16 * 1024;

// The name part of a Host value ("box.lan:8080" gives "box.lan", "[::1]:80"
// gives "[::1]"), lower-cased and without a trailing dot; empty when the
// value is no host[:port].
std::string HostName(const std::string& host);

// Whether the name part is an IPv4 literal (four decimal parts) or a
// bracketed IPv6 literal.
bool IsAddressLiteral(const std::string& name);

// The machine's own names: `hostName` as gethostname() gives it and its first
// label, and with `domain` appended when it has no dots of its own;
// lower-case.
std::vector<std::string> OwnHostNames(const std::string& hostName, const std::string& domain);

// The domain that resolv.conf configures (its last "domain" line, or the
// first name of its last "search" line); empty when there is none.
std::string ConfiguredDomain(FILE* resolvConf);

// The names of an allow file, lower-cased: one a line, blanks around them,
// blank lines and everything from "#" on ignored; at most
// kMaxAllowedHostsBytes are read.
std::vector<std::string> ListedHostNames(FILE* allowFile);

// The rule above for a Host value (null or empty: no Host), with the names
// that pass besides the literals and "localhost".
bool HostAllowed(const char* host, const std::vector<std::string>& names);

// The rule for this run: HTTP_HOST against this machine's names and those of
// `allowFilePath`. The names are looked up only for a Host that is no
// literal.
bool CgiHostAllowed(const std::string& allowFilePath);

// The name part of this run's Host, as HostName gives it; empty without one.
std::string CgiHostName();

// Where the product finds the allow file: beside the program file itself.
std::string AllowFileBesideProgram();
