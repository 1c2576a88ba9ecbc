#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

// The characters the sim serves on /characters and draws cards with.
namespace sim {

struct Character {
  std::string name;
  std::string accentHex;
  std::vector<std::string> faces;  // the first is the one shown when a request names none
};

using Catalogue = std::vector<Character>;

// Vesk and Soleth, whom vesk's help uses in its examples, and Mirren.
Catalogue builtInCatalogue();

// A JSON array in the form /characters answers with; ends the run with a message that says what
// is wrong and where when the file cannot be read or is not in that form.
Catalogue loadCatalogue(const std::string& path);

nlohmann::json toJson(const Catalogue& catalogue);

// By name, ignoring ASCII case as a person typing --chara would; null when there is none.
const Character* findCharacter(const Catalogue& catalogue, std::string_view name);

}  // namespace sim
