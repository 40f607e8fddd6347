// The period of the SQL mode inside a free SQL text.
//
// The period must bind the whole condition of every "where": put in front of
// "a or b" without parentheses it would bind only "a". So the text is read as
// SQLite reads it (string literals, quoted identifiers and comments are never
// looked into), and each "where" keyword, in any case, gets the period and
// its condition in parentheses: "where (PERIOD) and (CONDITION)". The
// condition runs to the first of: a clause keyword at the same parenthesis
// depth (group, order, limit, having, window, union, intersect, except,
// returning), a ")" that closes a parenthesis opened before the "where", a
// ";", or the end of the text. A text without "where" gets no period.
#pragma once

#include <string>

// `text` with `period` (a parenthesised condition) bound to every "where".
std::string BindPeriod(const std::string& text, const std::string& period);
