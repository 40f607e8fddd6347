#include "histseries/selectionfile.h"

#include "common/textops.h"
#include "histseries/texts.h"

void ReadSelectionFile(FILE* file, Selection& selection) {
  // The sixth character of an object line ("=") is skipped whatever it is;
  // a line of only "txobs" has no value.
  ReadSelectionLines(file, {ObjectLinePrefix, 6, MaxSeriesObjects}, selection);
}

std::string SelectionFileName(const char* request) {
  if (request == nullptr) return DefaultSelectionFile;
  return GetKeyValue(KeySelectionFile, request, '&');
}

void LoadSelection(const std::string& fileName, Selection& selection) {
  FILE* file = std::fopen(fileName.c_str(), "r");
  if (file == nullptr) file = std::fopen(FallbackSelectionFile, "r");
  if (file == nullptr) return;
  ReadSelectionFile(file, selection);
  std::fclose(file);
}
