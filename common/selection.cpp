#include "common/selection.h"

#include "common/strings.h"

SelectionEntry ParseSelectionEntry(const std::string& text) {
  SelectionEntry entry;
  entry.name = GetField(text, 1, ';');
  entry.label = GetField(text, 2, ';');
  std::string kind = GetField(text, 3, ';');
  entry.kind = kind.empty() ? '\0' : kind[0];
  return entry;
}

std::string NormalizeRequestTime(std::string time) {
  ReplaceAll(time, "%3A", ":");
  if (time.size() <= 7) time += ":00";
  if (time.size() <= 7) time = "00:00:00";
  return time;
}

namespace {

// Characters [begin, begin + count) of text, fewer where it ends before.
std::string Piece(const std::string& text, size_t begin, size_t count) {
  return begin < text.size() ? text.substr(begin, count) : std::string();
}

}  // namespace

std::string DisplayPeriodText(const std::string& period) {
  return Piece(period, 8, 2) + "." + Piece(period, 5, 2) + "." + Piece(period, 0, 4) + " " +
         Piece(period, 11, 8);
}
