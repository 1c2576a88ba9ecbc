#pragma once

#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "cli/args.h"

// The options that style a card (speaker, colours, title, image, character and face), copied
// unchanged into the body of the card commands that read them.
namespace vesk {

enum class Card { notify, ask, say, game };

// Copies each presentation option that `card` reads and that was given into `body`, under its
// body key, value as typed. Options a card does not read are ignored without a word.
void addPresentationOptions(nlohmann::json& body, const Args& args, Card card);

// The message of notify, ask and say: the first positional word. Without one the run ends with
// "<command> requires a message." and the usage line; nothing is sent.
std::string requireMessage(const Args& args, std::string_view command, std::string_view usage);

}  // namespace vesk
