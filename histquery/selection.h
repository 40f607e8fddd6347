// The selection of a run: the last selection file and the request's values,
// decoded once into the period and the chosen objects that every later step
// reads; the selection file that records the request; the delete link.
#pragma once

#include <string>
#include <vector>

#include "common/period.h"
#include "histquery/request.h"

constexpr const char kObjectSelectionFile[] = "histobj.dat";
constexpr const char kSqlSelectionFile[] = "histsql.dat";

// One chosen object, its fields decoded from the browser's form encoding.
struct ChosenObject {
  std::string name;      // as the recorder writes it ("K\xFC" "che Licht")
  std::string compared;  // as the statement compares it with ObjName (CompareName)
  std::string label;     // for display
  char kind = '\0';      // the third field's first character, NUL when it is empty
};

struct Selection {
  Period period;  // usable: both ends are dates and the start is not after the end
  std::vector<ChosenObject> objects;  // at most kMaxObjectNames
  // What follows "ACTION=DEL&" in the delete link: the request itself where
  // it carried its period, else the selection (SelectionQuery).
  std::string deleteLink;

  std::vector<std::string> ComparedNames() const;
};

// Who takes the selection: a report records its request in the selection
// file (unless its change was refused: a refused request leaves no trace); a
// view only reads, and keeps the file's objects where the request names none.
enum class SelectionUse { Report, RefusedReport, View };

// The selection file to load, the request's entries, the selection file that
// records the request, the period and the delete link, in that order.
Selection TakeSelection(const ReportRequest& request, SelectionUse use);

// An object name as the statement compares it with ObjName: form-decoded,
// upper-cased, a NUL byte (which would end the statement text inside its
// literal) as a blank.
std::string CompareName(std::string decodedName);

// The selection as request keys, every value percent-encoded but for
// letters, digits and "-_.~" (FieldEncoded), so that it stands as it is in
// an attribute, a script and an address and the next request decodes it to
// the same bytes: "txDateFrom=2024-03-05&txTimeFrom=07%3A30%3A00&txDateTo=
// ...&txTimeTo=..." and one "&obj=NAME;LABEL;KIND" per object.
std::string SelectionQuery(const Selection& selection);

// The selection file a request asks to load first: histobj.dat for an empty
// request or a bare view (VIEW= and WIDTH= alone), else the DFW value when it
// is a plain file name in the working directory; empty when nothing is to be
// loaded.
std::string SelectionFileToLoad(const ReportRequest& request);

// The text of the selection file that records a request: its period values
// as `sent` reads them, then its SQL text or its object entries as sent.
std::string SelectionFileContent(const ReportRequest& request, const RequestPeriod& sent);
