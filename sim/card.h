#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "catalogue.h"
#include "script.h"

// Cards as a person at the sim's terminal sees them.
namespace sim {

struct Style {
  bool colour = false;      // escape sequences at all
  bool trueColour = false;  // 24-bit, rather than the 256-colour palette
};

// Colour exactly when standard output is a terminal, as vesk does; 24-bit when COLORTERM says.
Style terminalStyle();

// The card a request puts up: the speaker in the name colour, the title, the message, the
// character and face, an image's source and the numbered proposed answers, framed by a bar in the
// accent colour. Control characters from the request are shown as '?', never sent to the
// terminal.
std::string renderCard(std::string_view clock, std::string_view path, const nlohmann::json& body,
                       const Catalogue& catalogue, const Style& style);

// One dim line for a request that puts up no card (/health, /collapse...).
std::string renderEvent(std::string_view clock, std::string_view method, std::string_view path,
                        const Style& style);

// What the person can type to answer `held`, ending with the "> " prompt.
std::string renderPrompt(Held held, size_t alsoWaiting, const Style& style);

// A dim line of text (what was sent back, a question withdrawn...).
std::string renderNote(std::string_view text, const Style& style);

}  // namespace sim
