#include "histseries/repeatedobjects.h"

#include <cstdio>
#include <string>

#include "common/textops.h"
#include "histseries/texts.h"

void DropRepeatedObjects(std::vector<SelectionEntry>& objects) {
  std::vector<SelectionEntry> kept;
  std::vector<std::string> keptNames;
  for (const SelectionEntry& entry : objects) {
    std::string name = UpperCase(entry.name);
    bool repeated = false;
    for (const std::string& earlier : keptNames) repeated = repeated || earlier == name;
    if (repeated) {
      std::fprintf(stderr, MessageRepeatedObject, entry.name.c_str());
      continue;
    }
    kept.push_back(entry);
    keptNames.push_back(name);
  }
  objects.swap(kept);
}
