#include "common/selection.h"

#include "common/textops.h"

namespace {

// Kept for compatibility: 254 characters a read; saved selection files rely on it.
constexpr int kLineRead = 255;
constexpr size_t kMinLine = 4;

}  // namespace

SelectionEntry ParseSelectionEntry(const std::string& text) {
  SelectionEntry entry;
  entry.name = GetField(text, 1, ';');
  entry.label = GetField(text, 2, ';');
  std::string kind = GetField(text, 3, ';');
  entry.kind = kind.empty() ? '\0' : kind[0];
  return entry;
}

void ReadSelectionLines(FILE* file, const SelectionLayout& layout, SelectionFileValues& values) {
  char buffer[kLineRead + 1];
  while (values.objects.size() < layout.maxObjects &&
         std::fgets(buffer, kLineRead, file) != nullptr) {
    std::string line = buffer;
    if (line.size() < kMinLine) continue;
    if (line.back() == '\n') line.pop_back();
    if (StartsWith(line, layout.objectPrefix)) {
      values.objects.push_back(
          ParseSelectionEntry(TextPiece(line, layout.valueOffset, kSelectionValueLimit)));
    } else if (StartsWith(line, "txDateFrom=")) {
      values.period.dateFrom = TextPiece(line, 11, 10);
    } else if (StartsWith(line, "txTimeFrom=")) {
      values.period.timeFrom = TextPiece(line, 11, 8);
    } else if (StartsWith(line, "txDateTo=")) {
      values.period.dateTo = TextPiece(line, 9, 10);
    } else if (StartsWith(line, "txTimeTo=")) {
      values.period.timeTo = TextPiece(line, 9, 8);
    }
  }
}
