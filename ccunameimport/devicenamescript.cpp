#include "ccunameimport/devicenamescript.h"

namespace {

// Each piece is its leading tabs, its text and its trailing blanks; the
// service's script editor pads lines this way, and the only line feeds are
// the two inside the Write literals.
struct ScriptPiece {
  int tabs;
  const char* text;
  int blanks;
};

const ScriptPiece kScriptPieces[] = {
    {0, "string id;", 43},
    {1, "foreach(id, root.Devices().EnumIDs()){", 16},
    {2, "var dev=dom.GetObject(id);", 26},
    {2, "if (dev) {", 42},
    {3, "Write(\"\"#dev.Address()#\"=\"#dev.Name()#\"\n\");", 1},
    {2, "}", 51},
    {3, "string cid;", 39},
    {3, "foreach(cid, dev.Channels().EnumIDs()){", 11},
    {3, "var ch=dom.GetObject(cid);", 24},
    {3, "if (ch) {", 41},
    {4, "Write(\"\"#ch.Address()#\"=\"#ch.Name()#\"\n\");", 1},
    {4, "}", 47},
    {3, "}", 49},
    {1, "}", 0},
};

std::string BuildDeviceNameScript() {
  std::string script;
  for (const ScriptPiece& piece : kScriptPieces) {
    script.append(static_cast<size_t>(piece.tabs), '\t');
    script += piece.text;
    script.append(static_cast<size_t>(piece.blanks), ' ');
  }
  return script;
}

}  // namespace

const std::string DeviceNameScript = BuildDeviceNameScript();
