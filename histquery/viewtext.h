// The encodings of the chart data (JSON) and of the download (CSV).
//
// The history and the selection hold ISO-8859-15 texts; both outputs are
// UTF-8. Every function writes to a stream in pieces and holds no more than a
// few bytes itself, so a download of any length takes constant memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Whether a value text reads as a number, and which. The rule, the same for
// the chart and the download: blanks (space, tab) around it are allowed, then
// an optional sign and a decimal number with a point as its decimal mark and
// an optional exponent ("21.5", "-3", ".5", "1e3"), all of the rest, within
// the range of a double. No hexadecimal, no "inf" or "nan", no decimal comma,
// no thousands separators. A null text reads as no number.
bool ReadValueNumber(const char* text, size_t length, double& value);

// `length` bytes of ISO-8859-15 as UTF-8: bytes below 0x80 as they are, the
// others as their code points; -15 differs from Latin-1 in eight of them
// (0xA4 euro sign, 0xA6, 0xA8, 0xB4, 0xB8, 0xBC, 0xBD, 0xBE).
void WriteUtf8(FILE* out, const char* text, size_t length);

// A JSON string in double quotes, UTF-8: quote and backslash escaped, control
// bytes as \n, \r, \t, \b, \f or \u00XX.
void WriteJsonString(FILE* out, const char* text, size_t length);

// A JSON number in the shortest form that reads back as the same double
// ("21.5", "-0.25", "1e+21"); null for a value that is not finite, which
// JSON cannot hold.
void WriteJsonNumber(FILE* out, double value);

// A time value as a JSON number.
void WriteJsonTime(FILE* out, int32_t time);

// A CSV text field, UTF-8, between double quotes (quotes doubled) when it
// holds ";", ",", '"', CR or LF: a spreadsheet set to either separator keeps
// it whole. A text a spreadsheet would take for a formula (it begins, after
// any blanks, with "=", "+", "-", "@", tab or CR and is no number) gets a
// leading "'", so that opening the download never runs it.
void WriteCsvText(FILE* out, const char* text, size_t length);

// A CSV value field: a text that reads as a number keeps its recorded digits
// (without the blanks around them) with a decimal comma ("21.50" gives "21,50", "-3.5" gives
// "-3,5"); any other text as WriteCsvText writes it.
void WriteCsvValue(FILE* out, const char* text, size_t length);

// A time value as DD.MM.YYYY HH:MM:SS, broken down as UTC: the history's
// seconds already count the local wall clock.
void WriteCsvTime(FILE* out, int32_t time);
