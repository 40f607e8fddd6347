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

std::string DisplayPeriodText(const std::string& period) {
  return TextPiece(period, 8, 2) + "." + TextPiece(period, 5, 2) + "." + TextPiece(period, 0, 4) +
         " " + TextPiece(period, 11, 8);
}
