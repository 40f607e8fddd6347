// Helpers shared by the library's own files; not part of its interface.
#pragma once

#include <ctime>
#include <string>

namespace XmlRpc {

// "YYYYMMDDTHH:MM:SS", the form dateTime.iso8601 values are sent in.
std::string DateTimeText(const std::tm& time);
// Reads "YYYYMMDDTHH:MM:SS" or "YYYY-MM-DDTHH:MM:SS"; false for anything else.
bool ParseDateTimeText(const std::string& text, std::tm& time);

std::string Base64Encode(const std::string& bytes);
// Ignores white space; false when the rest is not base64.
bool Base64Decode(const std::string& text, std::string& bytes);

// The shortest decimal form that reads back as the same double.
std::string DoubleText(double value);
// The same without an exponent, as calls carry it.
std::string PlainDoubleText(double value);

}  // namespace XmlRpc
