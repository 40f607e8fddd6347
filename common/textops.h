// Text operations shared by the programs.
//
// Texts are byte strings in ISO-8859-1/-15; every comparison is of unsigned
// bytes and character classes are those of the POSIX locale. Positions are
// 0-based, -1 means "not found"; field numbers are 1-based. None of these
// operations reports an error: a missing key, field or character gives the
// neutral result (empty text, or -1).
#pragma once

#include <cstdint>
#include <string>

// Decimal form as printf "%i" writes it.
std::string IntToString(int32_t value);

// a-z to A-Z, then the Latin-1 umlauts ae, oe, ue (0xE4, 0xF6, 0xFC) to their
// capitals; every other byte stays (0xDF, the sharp s, too).
std::string UpperCase(std::string text);

// The value behind `key` ("SQL=", "DFW=" ...) in items joined by `separator`.
// A key counts only at the start of `source` or right behind a separator, so
// "obj=" is not found inside "xobj=". The value runs to the next separator and
// is returned undecoded.
std::string GetKeyValue(std::string key, std::string source, char separator);

// Field `fieldNumber` (from 1; below 1 counts as 1) of `source` split at every
// `separator`.
std::string GetField(std::string source, int fieldNumber, char separator);

// Replaces every occurrence of `search` in `text`, left to right; the search
// goes on behind each inserted replacement, which is never scanned again.
void ReplaceAll(std::string& text, const std::string& search, const std::string& replacement);

// Smallest index i >= start with chars[i] == ch before the terminating NUL;
// -1 when there is none or `chars` is null.
int FindCharFrom(const char* chars, char ch, int start);

// `text` with every single quote doubled, for use inside an SQL string
// literal: a quote in an object name never ends the literal.
std::string SqlQuoted(const std::string& text);

// Characters [begin, begin + count) of `text`, fewer where it ends before.
std::string TextPiece(const std::string& text, size_t begin, size_t count);

// A-Z to a-z; every other byte stays.
std::string LowerCase(std::string text);

// `text` without the blanks, tabs, CRs and LFs around it.
std::string Trimmed(const std::string& text);

// Whether `c` is white space between the tokens of SQL, as SQLite reads it.
bool IsSqlSpace(char c);

// Whether `c` is a blank or a tab, as they may stand around a number.
bool IsSpaceOrTab(char c);

// A value as a browser's form encoding sent it: "%XX" (hex digits of either
// case) is that byte, "+" is a blank, in one pass; a "%" without two hex
// digits behind it stays as it is.
std::string FormDecoded(const std::string& text);

// Whether `text` begins with `prefix`.
bool StartsWith(const std::string& text, const char* prefix);

// printf's text for `format` and its arguments, of any length: the messages
// that a step returns to main are made with it.
std::string Formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
