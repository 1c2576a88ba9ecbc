#include "mcp/line_json.h"

#include <algorithm>
#include <vector>

#include "client/json_string.h"

namespace vesk::mcp {
namespace {

using Json = nlohmann::json;

struct LongText {
  size_t start = 0, end = 0;  // the token, quotes included
  JsonStringSpan span;
  size_t ordinal = 0;  // among the document's text values, in the order written
};

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The text values longer than `longText` (keys are left to the parser); false when a text is not
// a valid string, which makes the line no JSON.
bool findLongTexts(std::string_view line, size_t longText, std::vector<LongText>& found) {
  size_t ordinal = 0;
  for (size_t at = 0; at < line.size();) {
    at = line.find('"', at);
    if (at == std::string_view::npos) break;
    JsonStringSpan span;
    const size_t end = skipJsonString(line, at, span);
    if (end == std::string_view::npos) return false;
    size_t next = end;
    while (next < line.size() && isSpace(line[next])) ++next;
    if (next == line.size() || line[next] != ':') {  // a key is followed by its colon
      if (end - at > longText) found.push_back({at, end, span, ordinal});
      ++ordinal;
    }
    at = end;
  }
  return true;
}

// The one binary value in `value`, a stand-in no JSON text can give; the line nests at most a
// few hundred levels, which the recursion can take.
template <class Value>
Value* standIn(Value& value) {
  if (value.is_binary()) return &value;
  if (!value.is_structured()) return nullptr;
  for (auto& item : value) {
    if (Value* found = standIn(item)) return found;
  }
  return nullptr;
}

}  // namespace

bool holdsLongestText(const Json& value) {
  return standIn(value) != nullptr;
}

Json parseLineJson(std::string_view line, std::string* owner,
                   const std::function<LongestText(const Json&)>& use, size_t longText) {
  if (line.size() <= longText) return Json::parse(line, nullptr, /*allow_exceptions=*/false);
  std::vector<LongText> longs;
  if (!findLongTexts(line, longText, longs)) return Json(Json::value_t::discarded);
  if (longs.empty()) return Json::parse(line, nullptr, /*allow_exceptions=*/false);

  // The line without its long texts, each left as "": small, for nlohmann to read.
  std::string rest;
  size_t at = 0;
  for (const auto& text : longs) {
    rest.append(line.substr(at, text.start - at)).append("\"\"");
    at = text.end;
  }
  rest.append(line.substr(at));

  // The longest is decoded last, where it lies if it may be; the others before, as they go in.
  const auto longest = std::max_element(longs.begin(), longs.end(), [](auto& a, auto& b) {
    return a.end - a.start < b.end - b.start;
  });
  size_t ordinal = 0;
  auto next = longs.begin();
  Json document = Json::parse(
      rest,
      [&](int, Json::parse_event_t event, Json& value) {
        if (event != Json::parse_event_t::value || !value.is_string()) return true;
        if (next != longs.end() && next->ordinal == ordinal) {
          value = next == longest ? Json::binary({}) : Json(decodedJsonString(line, next->span));
          ++next;
        }
        ++ordinal;
        return true;
      },
      /*allow_exceptions=*/false);
  if (document.is_discarded()) return document;

  // A member written twice keeps its last value: the longest text may have been dropped.
  Json* place = standIn(document);
  if (!place) return document;
  const LongestText fate = use(document);
  if (fate == LongestText::unread) {
    *place = "";  // findLongTexts has checked it as JSON reads it
  } else if (fate == LongestText::taken && owner && line.data() >= owner->data() &&
             line.data() + line.size() <= owner->data() + owner->size()) {
    const size_t offset = static_cast<size_t>(line.data() - owner->data());
    JsonStringSpan span = longest->span;
    span.begin += offset;
    span.end += offset;
    owner->resize(decodeJsonString(*owner, span, owner->data()));
    *place = std::move(*owner);
  } else {
    *place = decodedJsonString(line, longest->span);
  }
  return document;
}

}  // namespace vesk::mcp
