#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "commands/presentation.h"

// A tool's arguments: how they are described to the client, checked and read.
namespace vesk::mcp {

enum class Kind {
  text,     // a string
  texts,    // an array of strings
  seconds,  // a number above 0
  choice,   // one of the argument's choices
  object,   // a JSON object, taken as it is
};

struct Argument {
  std::string name;
  Kind kind;
  std::string description;
  bool required = false;
  std::vector<std::string_view> choices = {};  // for Kind::choice, in the order messages list them
  // Another name a client may send the argument by; the argument's own name wins when both
  // come. A required argument is there when either is.
  std::string alias = {};
};

// Whether a call may carry members the tool does not know: a tool that hosts call with
// arguments of their own ignores those, any other tool refuses them.
enum class Others { refused, ignored };

// The JSON Schema of a tool's input: an object of these arguments, and no others when refused.
nlohmann::json inputSchema(const std::vector<Argument>& arguments, Others others);

// What is wrong with a call's `values` by that schema, or nothing.
std::optional<std::string> argumentProblem(const std::vector<Argument>& arguments, Others others,
                                           const nlohmann::json& values);

// The presentation options that `card` reads, as arguments: "image-url" is image_url.
std::vector<Argument> presentationArguments(Card card);

// The values of those among a call's arguments: views of their texts in `values`.
Presentation presentationIn(const nlohmann::json& values, Card card);

}  // namespace vesk::mcp
