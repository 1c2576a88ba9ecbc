#include "mcp/arguments.h"

#include <algorithm>

namespace vesk::mcp {
namespace {

using Json = nlohmann::json;

std::string argumentName(std::string_view option) {
  std::string name(option);
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

// The schema of an argument under its own name or, with a description of its own, its alias.
Json propertySchema(const Argument& argument, std::string description) {
  Json property = {{"description", std::move(description)}};
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
    case Kind::choice:
      property["type"] = "string";
      property["enum"] = Json::array();
      for (auto choice : argument.choices) property["enum"].push_back(std::string(choice));
      break;
    case Kind::object:
      property["type"] = "object";
      break;
  }
  return property;
}

std::string joined(const std::vector<std::string_view>& words) {
  std::string text;
  for (auto word : words) text += (text.empty() ? "" : ", ") + std::string(word);
  return text;
}

std::optional<std::string> valueProblem(const Argument& argument, const Json& value) {
  switch (argument.kind) {
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
    case Kind::choice:
      if (!value.is_string() ||
          std::find(argument.choices.begin(), argument.choices.end(),
                    value.get_ref<const std::string&>()) == argument.choices.end()) {
        return "must be one of " + joined(argument.choices);
      }
      break;
    case Kind::object:
      if (!value.is_object()) return "must be an object";
      break;
  }
  return std::nullopt;
}

}  // namespace

Json inputSchema(const std::vector<Argument>& arguments, Others others) {
  Json properties = Json::object();
  Json required = Json::array();
  for (const auto& argument : arguments) {
    properties[argument.name] = propertySchema(argument, argument.description);
    if (!argument.alias.empty()) {
      properties[argument.alias] = propertySchema(
          argument, "another name for " + argument.name + ", which wins when both are given");
    }
    // An argument that may come by either of two names is required by neither: hosts refuse a
    // schema whose top level says "one of these" (anyOf), so the check below says it.
    if (argument.required && argument.alias.empty()) required.push_back(argument.name);
  }
  Json schema = {{"type", "object"}, {"properties", properties}};
  if (others == Others::refused) schema["additionalProperties"] = false;
  if (!required.empty()) schema["required"] = required;
  return schema;
}

std::optional<std::string> argumentProblem(const std::vector<Argument>& arguments, Others others,
                                           const Json& values) {
  for (const auto& item : values.items()) {
    const std::string& name = item.key();
    auto argument = std::find_if(arguments.begin(), arguments.end(), [&](const Argument& a) {
      return a.name == name || (!a.alias.empty() && a.alias == name);
    });
    if (argument == arguments.end()) {
      if (others == Others::ignored) continue;
      return "unknown argument '" + name + "'";
    }
    if (auto problem = valueProblem(*argument, item.value())) {
      return "'" + name + "' " + *problem;
    }
  }
  for (const auto& argument : arguments) {
    if (!argument.required || values.contains(argument.name)) continue;
    if (argument.alias.empty()) return "'" + argument.name + "' is required";
    if (!values.contains(argument.alias)) {
      return "'" + argument.name + "' or '" + argument.alias + "' is required";
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
