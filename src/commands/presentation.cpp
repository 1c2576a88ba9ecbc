#include "commands/presentation.h"

#include "cli/output.h"

namespace vesk {
namespace {

constexpr PresentationOption kPresentationOptions[] = {
    {"name", "name", "display name of the speaker shown on the card", true, true, true, false},
    {"color", "name_color", "colour of the speaker's name, as hex text such as #00FF00", true, true,
     true, false},
    {"accent", "accent_hex", "accent colour of the card, as hex text", true, true, true, true},
    {"title", "title", "title of the card", true, true, false, false},
    {"image-url", "image_url", "address of an image to show on the card", true, true, false, false},
    {"image-base64", "image_base64", "image to show on the card, as Base64 text", true, true, false,
     false},
    {"chara", "character",
     "a character loaded in the app (see characters), whose face, name and colour the card takes",
     true, true, true, true},
    {"face", "face", "which face (mood) of the character to show; its first one without this", true,
     true, true, true},
};

}  // namespace

std::span<const PresentationOption> presentationOptions() {
  return kPresentationOptions;
}

bool cardReads(Card card, const PresentationOption& option) {
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

Presentation presentationOf(const Args& args) {
  Presentation presentation;
  for (const auto& option : kPresentationOptions) {
    if (auto value = args.flag(option.option)) presentation.emplace(option.option, *value);
  }
  return presentation;
}

void addPresentation(JsonBody& body, const Presentation& presentation, Card card) {
  for (const auto& option : kPresentationOptions) {
    if (!cardReads(card, option)) continue;
    auto given = presentation.find(option.option);
    if (given != presentation.end()) body.set(option.key, given->second);
  }
}

std::string_view requireMessage(const Args& args, std::string_view command,
                                std::string_view usage) {
  auto message = args.message();
  if (!message) die(std::string(command) + " requires a message.\n\nUsage: " + std::string(usage));
  return *message;
}

}  // namespace vesk
