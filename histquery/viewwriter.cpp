#include "histquery/viewwriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/datetime.h"
#include "common/textops.h"
#include "histquery/viewtext.h"
#include "histquery/viewtexts.h"

namespace {

void WriteJsonText(FILE* out, const std::string& text) {
  WriteJsonString(out, text.data(), text.size());
}

// A statistic's time, null where the statistic has no value.
void WriteJsonTimeIf(FILE* out, bool present, int32_t time) {
  if (present)
    WriteJsonTime(out, time);
  else
    std::fputs("null", out);
}

void WriteStats(FILE* out, const ChartStats& stats) {
  std::fputs("\"stats\":{\"count\":", out);
  std::fprintf(out, "%lld", static_cast<long long>(stats.count));
  std::fputs(",\"first\":", out);
  WriteJsonTimeIf(out, stats.count > 0, stats.first);
  std::fputs(",\"last\":", out);
  WriteJsonTimeIf(out, stats.count > 0, stats.last);
  std::fputs(",\"min\":", out);
  WriteJsonNumber(out, stats.min);
  std::fputs(",\"minTime\":", out);
  WriteJsonTimeIf(out, !std::isnan(stats.min), stats.minTime);
  std::fputs(",\"max\":", out);
  WriteJsonNumber(out, stats.max);
  std::fputs(",\"maxTime\":", out);
  WriteJsonTimeIf(out, !std::isnan(stats.max), stats.maxTime);
  std::fputs(",\"mean\":", out);
  WriteJsonNumber(out, stats.mean);
  std::fputs(",\"lastValue\":", out);
  WriteJsonNumber(out, stats.lastValue);
  std::fputs("}", out);
}

// "texts":{"0":"geschlossen","1":"offen"}, the keys being the values as
// WriteJsonNumber writes them.
void WriteTexts(FILE* out, const std::vector<ValueText>& texts) {
  std::fputs("\"texts\":{", out);
  for (size_t i = 0; i < texts.size(); ++i) {
    std::fputs(i > 0 ? ",\"" : "\"", out);
    WriteJsonNumber(out, texts[i].value);
    std::fputs("\":", out);
    WriteJsonText(out, texts[i].text);
  }
  std::fputc('}', out);
}

// Kinds C and U hold states, whose value texts the chart shows; a number
// (kind N) is read as it is.
bool ShowsStates(char kind) {
  return kind == 'C' || kind == 'U';
}

void WriteObject(FILE* out, ChartObject& object) {
  object.series.Finish();
  std::fputs("{\"name\":", out);
  WriteJsonText(out, object.name);
  std::fputs(",\"label\":", out);
  WriteJsonText(out, object.label);
  std::fputs(",\"kind\":", out);
  WriteJsonString(out, &object.kind, object.kind != '\0' ? 1 : 0);
  std::fputs(",\"points\":[", out);
  bool first = true;
  for (const ChartPoint& point : object.series.Points()) {
    std::fputs(first ? "[" : ",[", out);
    first = false;
    WriteJsonTime(out, point.time);
    std::fputc(',', out);
    WriteJsonNumber(out, point.value);
    std::fputc(']', out);
  }
  std::fputs("],", out);
  if (object.series.Cut()) std::fputs("\"cut\":true,", out);
  WriteStats(out, object.series.Stats());
  if (ShowsStates(object.kind)) {
    std::vector<ValueText> texts = object.series.Texts();
    if (!texts.empty()) {
      std::fputc(',', out);
      WriteTexts(out, texts);
    }
  }
  std::fputc('}', out);
}

void WriteCsvTextField(FILE* out, const char* text) {
  if (text != nullptr) WriteCsvText(out, text, std::strlen(text));
}

void WriteCsvValueField(FILE* out, const char* text) {
  if (text != nullptr) WriteCsvValue(out, text, std::strlen(text));
}

// A period end in a file name: YYYY-MM-DD_HHMMSS.
std::string FileNameTime(int32_t time) {
  std::string text = FormatTimestamp(time, TimestampForm::Series);
  text.erase(std::remove(text.begin(), text.end(), ':'), text.end());
  std::replace(text.begin(), text.end(), ' ', '_');
  return text;
}

}  // namespace

void PrintJsonHead(FILE* out) {
  std::fputs(kJsonHead, out);
}

void WriteChartJson(FILE* out, int32_t from, int32_t to, int width,
                    std::vector<ChartObject>& objects, const std::vector<std::string>& messages) {
  std::fputs("{\"from\":", out);
  WriteJsonTime(out, from);
  std::fputs(",\"to\":", out);
  WriteJsonTime(out, to);
  std::fprintf(out, ",\"width\":%d,\"objects\":[", width);
  for (size_t i = 0; i < objects.size(); ++i) {
    if (i > 0) std::fputc(',', out);
    WriteObject(out, objects[i]);
  }
  std::fputc(']', out);
  if (!messages.empty()) {
    std::fputs(",\"messages\":[", out);
    for (size_t i = 0; i < messages.size(); ++i) {
      if (i > 0) std::fputc(',', out);
      WriteJsonString(out, messages[i].data(), messages[i].size());
    }
    std::fputc(']', out);
  }
  std::fputs("}\n", out);
}

void WriteJsonError(FILE* out, const char* message) {
  std::fputs("{\"error\":", out);
  WriteJsonString(out, message, std::strlen(message));
  std::fputs("}\n", out);
}

void PrintCsvHead(FILE* out, int32_t from, int32_t to) {
  std::fprintf(out, kCsvHeadFormat, FileNameTime(from).c_str(), FileNameTime(to).c_str());
}

void WriteCsvRow(FILE* out, int32_t time, const char* name, const char* label, const char* value,
                 const char* valueText, const char* source) {
  WriteCsvTime(out, time);
  std::fputc(';', out);
  WriteCsvTextField(out, name);
  std::fputc(';', out);
  WriteCsvTextField(out, label);
  std::fputc(';', out);
  WriteCsvValueField(out, value);
  std::fputc(';', out);
  WriteCsvValueField(out, valueText);
  std::fputc(';', out);
  WriteCsvTextField(out, source);
  std::fputs(kCsvLineEnd, out);
}

void PrintChartPage(FILE* out, const std::string& query, const std::string& hintHtml) {
  std::fprintf(out, kChartPageFormat, hintHtml.c_str(), query.c_str(), query.c_str(),
               query.c_str());
}
