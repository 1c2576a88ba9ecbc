#include "commands/presentation.h"

#include <nlohmann/json.hpp>

#include "cli/output.h"

namespace vesk {
namespace {

struct PresentationOption {
  const char* flag;
  const char* key;
  bool notify, ask, say, game;  // which cards read it
};

constexpr PresentationOption kPresentationOptions[] = {
    {"name", "name", true, true, true, false},
    {"color", "name_color", true, true, true, false},
    {"accent", "accent_hex", true, true, true, true},
    {"title", "title", true, true, false, false},
    {"image-url", "image_url", true, true, false, false},
    {"image-base64", "image_base64", true, true, false, false},
    {"chara", "character", true, true, true, true},
    {"face", "face", true, true, true, true},
};

bool reads(const PresentationOption& option, Card card) {
  switch (card) {
    case Card::notify:
      return option.notify;
    case Card::ask:
      return option.ask;
    case Card::say:
      return option.say;
    case Card::game:
      return option.game;
  }
  return false;
}

}  // namespace

void addPresentationOptions(nlohmann::json& body, const Args& args, Card card) {
  for (const auto& option : kPresentationOptions) {
    if (!reads(option, card)) continue;
    if (auto value = args.flag(option.flag)) body[option.key] = std::move(*value);
  }
}

std::string requireMessage(const Args& args, std::string_view command, std::string_view usage) {
  auto message = args.message();
  if (!message) die(std::string(command) + " requires a message.\n\nUsage: " + std::string(usage));
  return *message;
}

}  // namespace vesk
