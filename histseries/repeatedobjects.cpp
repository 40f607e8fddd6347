#include "histseries/repeatedobjects.h"

#include <string>

#include "common/textops.h"

std::vector<std::string> DropRepeatedObjects(std::vector<SelectionEntry>& objects) {
  std::vector<std::string> dropped;
  std::vector<SelectionEntry> kept;
  std::vector<std::string> keptNames;
  for (const SelectionEntry& entry : objects) {
    std::string name = UpperCase(entry.name);
    bool repeated = false;
    for (const std::string& earlier : keptNames) repeated = repeated || earlier == name;
    if (repeated) {
      dropped.push_back(entry.name);
      continue;
    }
    kept.push_back(entry);
    keptNames.push_back(name);
  }
  objects.swap(kept);
  return dropped;
}
