#include <algorithm>
#include <optional>

#include <nlohmann/json.hpp>

#include "cli/output.h"
#include "client/result.h"
#include "commands/commands.h"

namespace vesk {
namespace {

constexpr const char* kDefaultAccent = "#7FD6FF";

bool isArrayOfObjects(const nlohmann::json& document) {
  return document.is_array() && std::all_of(document.begin(), document.end(),
                                            [](const auto& item) { return item.is_object(); });
}

std::string textMember(const nlohmann::json& character, const char* key, const char* fallback) {
  auto member = character.find(key);
  return member != character.end() && member->is_string() ? member->template get<std::string>()
                                                          : fallback;
}

// The face names joined with ", ", or nothing when there are none or any is not a string.
std::optional<std::string> facesOf(const nlohmann::json& character) {
  auto faces = character.find("faces");
  if (faces == character.end() || !faces->is_array() || faces->empty()) return std::nullopt;
  std::string joined;
  for (size_t i = 0; i < faces->size(); ++i) {
    const auto& face = (*faces)[i];
    if (!face.is_string()) return std::nullopt;
    if (i > 0) joined += ", ";
    joined += face.get<std::string>();
  }
  return joined;
}

}  // namespace

void cmdCharacters(const VeskClient& client, const Args& args) {
  Response response = client.get("/characters", kQuickCheckTimeoutSeconds);
  requireOK(response);
  if (printedRawJson(args, response)) return;

  auto document = nlohmann::json::parse(response.body, nullptr, /*allow_exceptions=*/false);
  // Anything but the expected list is shown as the app sent it.
  if (!isArrayOfObjects(document)) return outFromApp(response.body);
  if (document.empty()) return out(paint("No characters loaded.", C::dim));
  for (const auto& character : document) {
    std::string name = fromApp(textMember(character, "name", "?"), Stream::out);
    std::string accent = fromApp(textMember(character, "accent_hex", kDefaultAccent), Stream::out);
    out(paint("●", C::cyan) + " " + paint(name, C::bold) + "  " + paint(accent, C::dim));
    auto faces = facesOf(character);
    out("  faces: " + (faces ? fromApp(*faces, Stream::out) : paint("(no faces)", C::dim)));
  }
}

}  // namespace vesk
