#include "catalogue.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "diagnostics.h"

namespace sim {
namespace {

bool isTextList(const nlohmann::json& value) {
  if (!value.is_array() || value.empty()) return false;
  for (const auto& item : value) {
    if (!item.is_string()) return false;
  }
  return true;
}

Character characterAt(const nlohmann::json& item, size_t index, const std::string& path) {
  const std::string where = path + ": character " + std::to_string(index + 1);
  if (!item.is_object()) fail(where + " is not an object");
  auto name = item.find("name");
  auto accent = item.find("accent_hex");
  auto faces = item.find("faces");
  if (name == item.end() || !name->is_string() || name->get<std::string>().empty()) {
    fail(where + " needs a non-empty \"name\"");
  }
  if (accent == item.end() || !accent->is_string()) fail(where + " needs an \"accent_hex\" text");
  if (faces == item.end() || !isTextList(*faces)) fail(where + " needs \"faces\": a list of texts");
  return {name->get<std::string>(), accent->get<std::string>(),
          faces->get<std::vector<std::string>>()};
}

}  // namespace

Catalogue builtInCatalogue() {
  return {
      {"Vesk", "#7FD6FF", {"neutral", "happy", "angry", "sad", "surprised", "thinking"}},
      {"Soleth", "#F5A623", {"calm", "smug", "sleepy", "laughing"}},
      {"Mirren", "#B48CFF", {"curious", "cheerful", "worried", "proud"}},
  };
}

Catalogue loadCatalogue(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) fail("cannot read " + path);
  std::stringstream text;
  text << file.rdbuf();
  auto document = nlohmann::json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) fail(path + " is not valid JSON");
  if (!document.is_array()) fail(path + " must hold a JSON array of characters");
  Catalogue catalogue;
  for (size_t i = 0; i < document.size(); ++i)
    catalogue.push_back(characterAt(document[i], i, path));
  return catalogue;
}

nlohmann::json toJson(const Catalogue& catalogue) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& character : catalogue) {
    list.push_back({{"name", character.name},
                    {"accent_hex", character.accentHex},
                    {"faces", character.faces}});
  }
  return list;
}

const Character* findCharacter(const Catalogue& catalogue, std::string_view name) {
  auto sameLetters = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  };
  for (const auto& character : catalogue) {
    if (character.name.size() == name.size() &&
        std::equal(name.begin(), name.end(), character.name.begin(), sameLetters)) {
      return &character;
    }
  }
  return nullptr;
}

}  // namespace sim
