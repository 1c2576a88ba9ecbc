#include <algorithm>
#include <optional>

#include <nlohmann/json.hpp>

#include "cli/output.h"
#include "client/json_value.h"
#include "client/result.h"
#include "commands/calls.h"
#include "commands/commands.h"

namespace vesk {
namespace {

bool isArrayOfObjects(const nlohmann::json& document) {
  return document.is_array() && std::all_of(document.begin(), document.end(),
                                            [](const auto& item) { return item.is_object(); });
}

std::string textMember(const nlohmann::json& character, const char* key, const char* fallback) {
  auto member = character.find(key);
  return member != character.end() && member->is_string() ? member->template get<std::string>()
                                                          : fallback;
}

// A "faces" array counts only if all of it is text.
std::vector<std::string> facesOf(const nlohmann::json& character) {
  auto faces = character.find("faces");
  if (faces == character.end() || !faces->is_array()) return {};
  std::vector<std::string> names;
  for (const auto& face : *faces) {
    if (!face.is_string()) return {};
    names.push_back(face.get<std::string>());
  }
  return names;
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += ", ";
    text += names[i];
  }
  return text;
}

}  // namespace

Response fetchCharacters(const VeskClient& client) {
  Response response = client.get("/characters", kQuickCheckTimeoutSeconds);
  requireOK(response);
  return response;
}

std::optional<std::vector<Character>> charactersOf(const Response& answer) {
  auto document = parsedJson(answer.body);
  if (!isArrayOfObjects(document)) return std::nullopt;
  std::vector<Character> characters;
  for (const auto& character : document) {
    characters.push_back({textMember(character, "name", "?"),
                          textMember(character, "accent_hex", "#7FD6FF"), facesOf(character)});
  }
  return characters;
}

void cmdCharacters(const VeskClient& client, const Args& args) {
  Response response = fetchCharacters(client);
  if (printedRawJson(args, response)) return;

  auto characters = charactersOf(response);
  // Anything but the expected list is shown as the app sent it.
  if (!characters) return outFromApp(response.body);
  if (characters->empty()) return out(paint("No characters loaded.", C::dim));
  for (const auto& character : *characters) {
    out(paint("●", C::cyan) + " " + paint(fromApp(character.name), C::bold) + "  " +
        paint(fromApp(character.accent), C::dim));
    out("  faces: " +
        (character.faces.empty() ? paint("(no faces)", C::dim) : fromApp(joined(character.faces))));
  }
}

}  // namespace vesk
