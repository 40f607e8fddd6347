// --help and --version for the command-line programs. The help text is the
// head comment of the program's main.cpp, made into programhelp.h by the
// build (program_help() in the top CMakeLists.txt), so the reader of the
// source and the user of the program see one text.
#pragma once

#include <cstdio>
#include <cstring>

// Prints the help text or "NAME VERSION" when `argv[1]` is --help or
// --version and the only argument; true when it did. Anything else belongs to
// the program (a host, a request), so "--help x" is not answered here.
inline bool AnswerAboutProgram(int argc, char** argv, const char* name, const char* version,
                               const char* help) {
  if (argc != 2) return false;
  if (std::strcmp(argv[1], "--help") == 0) {
    std::fputs(help, stdout);
    return true;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s %s\n", name, version);
    return true;
  }
  return false;
}
