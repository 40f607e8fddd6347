#include "histseries/seriesquery.h"

#include "common/historystatement.h"
#include "common/textops.h"

std::string BuildSeriesQuery(int32_t fromSeconds, int32_t toSeconds,
                             const std::vector<SelectionEntry>& objects) {
  std::vector<std::string> names;
  for (const SelectionEntry& entry : objects) names.push_back(UpperCase(entry.name));
  return ReportStatement(fromSeconds, toSeconds, names);
}
