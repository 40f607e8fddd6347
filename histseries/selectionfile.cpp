#include "histseries/selectionfile.h"

#include "common/textops.h"
#include "histseries/texts.h"

void ReadSelectionFile(FILE* file, Selection& selection) {
  // Kept for compatibility: char 6 skipped whatever it is; older selection files rely on it.
  // A line of only "txobs" has no value.
  ReadSelectionLines(file, {kObjectLinePrefix, 6, kMaxSeriesObjects}, selection);
}

std::string SelectionFileName(const char* request) {
  if (request == nullptr) return kDefaultSelectionFile;
  return GetKeyValue(kKeySelectionFile, request, '&');
}

void LoadSelection(const std::string& fileName, Selection& selection) {
  FILE* file = std::fopen(fileName.c_str(), "r");
  if (file == nullptr) file = std::fopen(kFallbackSelectionFile, "r");
  if (file == nullptr) return;
  ReadSelectionFile(file, selection);
  std::fclose(file);
}
