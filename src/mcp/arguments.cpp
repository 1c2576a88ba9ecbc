#include "mcp/arguments.h"

#include <algorithm>

#include "commands/calls.h"

namespace vesk::mcp {
namespace {

using Json = nlohmann::json;

std::string argumentName(std::string_view option) {
  std::string name(option);
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

Json propertySchema(const Argument& argument) {
  Json property = {{"description", argument.description}};
  switch (argument.kind) {
    case Kind::text:
      property["type"] = "string";
      break;
    case Kind::texts:
      property["type"] = "array";
      property["items"] = {{"type", "string"}};
      break;
    case Kind::seconds:
      property["type"] = "number";
      property["exclusiveMinimum"] = 0;
      break;
    case Kind::game:
      property["type"] = "string";
      property["enum"] = Json::array();
      for (auto type : kGameTypes) property["enum"].push_back(std::string(type));
      break;
  }
  return property;
}

std::optional<std::string> valueProblem(Kind kind, const Json& value) {
  switch (kind) {
    case Kind::text:
      if (!value.is_string()) return "must be a string";
      break;
    case Kind::texts:
      if (!value.is_array() ||
          !std::all_of(value.begin(), value.end(), [](const Json& v) { return v.is_string(); })) {
        return "must be an array of strings";
      }
      break;
    case Kind::seconds:
      if (!value.is_number() || !(value.get<double>() > 0)) return "must be a number above 0";
      break;
    case Kind::game:
      if (!value.is_string() || std::find(kGameTypes.begin(), kGameTypes.end(),
                                          value.get<std::string>()) == kGameTypes.end()) {
        return "must be one of tic_tac_toe, snake, hangman";
      }
      break;
  }
  return std::nullopt;
}

}  // namespace

Json inputSchema(const std::vector<Argument>& arguments) {
  Json properties = Json::object();
  Json required = Json::array();
  for (const auto& argument : arguments) {
    properties[argument.name] = propertySchema(argument);
    if (argument.required) required.push_back(argument.name);
  }
  Json schema = {{"type", "object"}, {"properties", properties}, {"additionalProperties", false}};
  if (!required.empty()) schema["required"] = required;
  return schema;
}

std::optional<std::string> argumentProblem(const std::vector<Argument>& arguments,
                                           const Json& values) {
  for (const auto& item : values.items()) {
    const std::string& name = item.key();
    auto argument = std::find_if(arguments.begin(), arguments.end(),
                                 [&](const Argument& a) { return a.name == name; });
    if (argument == arguments.end()) return "unknown argument '" + name + "'";
    if (auto problem = valueProblem(argument->kind, item.value())) {
      return "'" + name + "' " + *problem;
    }
  }
  for (const auto& argument : arguments) {
    if (argument.required && !values.contains(argument.name)) {
      return "'" + argument.name + "' is required";
    }
  }
  return std::nullopt;
}

std::vector<Argument> presentationArguments(Card card) {
  std::vector<Argument> arguments;
  for (const auto& option : presentationOptions()) {
    if (cardReads(card, option)) {
      arguments.push_back({argumentName(option.option), Kind::text, std::string(option.meaning)});
    }
  }
  return arguments;
}

Presentation presentationIn(const Json& values, Card card) {
  Presentation presentation;
  for (const auto& option : presentationOptions()) {
    auto value = values.find(argumentName(option.option));
    if (cardReads(card, option) && value != values.end()) {
      presentation.emplace(option.option, value->get_ref<const std::string&>());
    }
  }
  return presentation;
}

}  // namespace vesk::mcp
