#pragma once

#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "client/json_body.h"

#include "cli/args.h"

// The options that style a card (speaker, colours, title, image, character and face), copied
// unchanged into the body of the card commands that read them.
namespace vesk {

enum class Card { notify, ask, say, game };

struct PresentationOption {
  std::string_view option;      // as vesk reads it, without the dashes: "image-url"
  std::string_view key;         // in the request body: "image_url"
  std::string_view meaning;     // to the app, for the tools' descriptions
  bool notify, ask, say, game;  // which cards read it
};

// All of them, in the order of the help text.
std::span<const PresentationOption> presentationOptions();
bool cardReads(Card card, const PresentationOption& option);

// The options a caller gave: option name to value as typed, a view of the caller's text.
using Presentation = std::map<std::string_view, std::string_view>;

// The presentation options on the command line, whichever card they are for.
Presentation presentationOf(const Args& args);

// Sets each option that `card` reads and that was given in `body`, under its body key. Options
// a card does not read are ignored without a word.
void addPresentation(JsonBody& body, const Presentation& presentation, Card card);

// The message of notify, ask and say: the first positional word. Without one the run ends with
// "<command> requires a message." and the usage line; nothing is sent.
std::string_view requireMessage(const Args& args, std::string_view command, std::string_view usage);

}  // namespace vesk
