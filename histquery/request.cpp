#include "histquery/request.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/textops.h"
#include "histquery/chartseries.h"

std::string ReadRequest() {
  const char* method = std::getenv("REQUEST_METHOD");
  if (method == nullptr) return "";
  if (std::strcmp(method, "POST") == 0) return ReadPostBody(stdin);
  if (std::strcmp(method, "GET") == 0) {
    const char* query = std::getenv("QUERY_STRING");
    return query != nullptr ? query : "";
  }
  return "";
}

std::string ReadPostBody(FILE* in) {
  const char* lengthText = std::getenv("CONTENT_LENGTH");
  if (lengthText == nullptr) return "";
  // The leading number as atoi reads it, but without its overflow.
  long long length = std::strtoll(lengthText, nullptr, 10);
  if (length <= 0 || length > kMaxPostBody) return "";
  std::string body(static_cast<size_t>(length), '\0');
  if (std::fread(&body[0], 1, body.size(), in) != body.size()) return "";
  // The body counts up to its first NUL byte.
  body.resize(std::strlen(body.c_str()));
  return body;
}

void DecodeSqlText(std::string& text) {
  text = FormDecoded(text);
  for (char& c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
}

namespace {

constexpr size_t kMinSqlText = 8;  // a shorter SQL value keeps object mode

constexpr const char* kPageKeys[] = {"PAGE=", "SHOWN=", "HIDDEN="};

// A count of rows: digits only, as our links write them; 0 for anything else.
int64_t RowCount(const std::string& value) {
  if (value.empty() || value.size() > 12 ||
      value.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  return std::stoll(value);
}

// PAGE=TIME,ROWID as our links write them (TIME a number, ROWID an
// integer); anything else is the first page.
void ReadPageKeys(ReportRequest& request, const std::string& page, const std::string& shown,
                  const std::string& hidden) {
  size_t comma = page.find(',');
  if (comma == std::string::npos || comma == 0 || page.size() > 64) return;
  std::string time = page.substr(0, comma);
  std::string rowid = page.substr(comma + 1);
  char* end = nullptr;
  double timeValue = std::strtod(time.c_str(), &end);
  if (*end != '\0' || !std::isfinite(timeValue)) return;
  errno = 0;
  long long rowidValue = std::strtoll(rowid.c_str(), &end, 10);
  if (rowid.empty() || *end != '\0' || errno != 0) return;
  request.page = HistoryPlace{timeValue, rowidValue};
  request.pageShown = RowCount(shown);
  request.pageHidden = RowCount(hidden);
}

}  // namespace

std::string WithoutPageKeys(const std::string& text) {
  std::vector<std::string> kept;
  for (size_t begin = 0; begin <= text.size();) {
    size_t end = std::min(text.find('&', begin), text.size());
    std::string item = text.substr(begin, end - begin);
    bool pageKey = false;
    for (const char* key : kPageKeys) pageKey = pageKey || StartsWith(item, key);
    if (!pageKey) kept.push_back(item);
    begin = end + 1;
  }
  std::string joined;
  for (size_t k = 0; k < kept.size(); ++k) joined += (k > 0 ? "&" : "") + kept[k];
  return joined;
}

ReportRequest ParseReportRequest(const std::string& text) {
  ReportRequest request;
  request.text = text;
  std::string sql;
  std::string action;
  std::string view;
  std::string width;
  std::string page;
  std::string shown;
  std::string hidden;
  std::string summary;
  struct Key {
    const char* name;
    std::string* value;
    bool seen;
  } keys[] = {
      {"SQL=", &sql, false},
      {"DFW=", &request.selectionFile, false},
      {"ACTION=", &action, false},
      {"txDateFrom=", &request.period.dateFrom, false},
      {"txTimeFrom=", &request.period.timeFrom, false},
      {"txDateTo=", &request.period.dateTo, false},
      {"txTimeTo=", &request.period.timeTo, false},
      {"VIEW=", &view, false},
      {"WIDTH=", &width, false},
      {"PAGE=", &page, false},
      {"SHOWN=", &shown, false},
      {"HIDDEN=", &hidden, false},
      {"SUMMARY=", &summary, false},
  };
  bool selectionItem = false;
  for (size_t begin = 0; begin <= text.size();) {
    size_t end = std::min(text.find('&', begin), text.size());
    std::string item = text.substr(begin, end - begin);
    if (!item.empty() && !StartsWith(item, "VIEW=") && !StartsWith(item, "WIDTH=") &&
        !StartsWith(item, "SUMMARY="))
      selectionItem = true;
    for (Key& key : keys) {
      if (key.seen || !StartsWith(item, key.name)) continue;
      key.seen = true;
      *key.value = item.substr(std::strlen(key.name));
    }
    size_t object = item.find("obj=");
    if (object != std::string::npos) {
      std::string value = FieldsDecoded(item.substr(object + 4));
      if (request.objects.size() < static_cast<size_t>(kMaxObjectNames))
        request.objects.push_back(value);
      else
        request.droppedObjects.push_back(FormDecoded(GetField(value, 1, ';')));
    }
    begin = end + 1;
  }
  for (std::string* value : {&request.period.dateFrom, &request.period.timeFrom,
                             &request.period.dateTo, &request.period.timeTo})
    *value = FieldsDecoded(*value);
  if (view == "JSON")
    request.view = View::Json;
  else if (view == "CHART")
    request.view = View::Chart;
  else if (view == "CSV")
    request.view = View::Csv;
  request.chartWidth = ChartWidth(width);
  if (summary == "ROWS") request.summaryUse = ReportRequest::SummaryUse::Rows;
  if (summary == "CHECK") request.summaryUse = ReportRequest::SummaryUse::Check;
  request.linkText = FieldsDecoded(WithoutPageKeys(text));
  ReadPageKeys(request, page, shown, hidden);
  request.bareView = request.view != View::Report && !selectionItem;
  if (sql.size() >= kMinSqlText) {
    request.mode = ReportMode::Sql;
    request.sqlText = sql;
    DecodeSqlText(request.sqlText);
  } else if (action == "DEL") {
    request.mode = ReportMode::Deletion;
  }
  return request;
}

int ChartWidth(const std::string& value) {
  if (value.empty() || value.size() > 9 ||
      value.find_first_not_of("0123456789") != std::string::npos)
    return kChartWidthDefault;
  int width = std::stoi(value);
  if (width == 0) return 0;
  return std::clamp(width, kChartWidthMin, kChartWidthMax);
}

bool ChangesHistory(ReportMode mode) {
  return mode != ReportMode::Objects;
}

std::string FieldsDecoded(std::string text) {
  ReplaceAll(text, "%3B", ";");
  return text;
}
