#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "commands/presentation.h"

// A tool's arguments: how they are described to the client, checked and read.
namespace vesk::mcp {

enum class Kind {
  text,     // a string
  texts,    // an array of strings
  seconds,  // a number above 0
  game,     // one of kGameTypes
};

struct Argument {
  std::string name;
  Kind kind;
  std::string description;
  bool required = false;
};

// The JSON Schema of a tool's input: an object of these arguments and no others.
nlohmann::json inputSchema(const std::vector<Argument>& arguments);

// What is wrong with a call's `values` by that schema, or nothing.
std::optional<std::string> argumentProblem(const std::vector<Argument>& arguments,
                                           const nlohmann::json& values);

// The presentation options that `card` reads, as arguments: "image-url" is image_url.
std::vector<Argument> presentationArguments(Card card);

// The values of those among a call's arguments: views of their texts in `values`.
Presentation presentationIn(const nlohmann::json& values, Card card);

}  // namespace vesk::mcp
