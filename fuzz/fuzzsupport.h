// What the harnesses share: the failure of a check, a private working
// directory, a sink for printed pages and the statement check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Ends the run as a crash, so libFuzzer keeps the input, when `condition`
// does not hold.
void Require(bool condition, const char* what);

// A directory of this process only (created on first use under TMPDIR or
// /tmp, removed with its files when the process ends).
const std::string& PrivateDirectory();

// Code that reads or writes the working directory runs inside the private
// directory; libFuzzer, between the runs, sees the directory it started in,
// so relative corpus paths keep working.
void EnterPrivateDirectory();
void LeavePrivateDirectory();

// /dev/null, opened once: the pages are printed, not kept.
FILE* NullOutput();

// The bytes up to the first NUL, as a C string argument or CGI variable
// carries them.
std::string UpToNul(const uint8_t* data, size_t size);

// True when `sql` is exactly one statement that SQLite accepts against a
// table HISTORY of the store's columns (no database file is involved): a
// name that breaks out of its string literal fails this.
bool IsOneHistoryStatement(const std::string& sql);

// Sets TZ=Europe/Berlin: the programs run on local time, and a crash must
// reproduce the same on every machine.
void UseBerlinTime();
