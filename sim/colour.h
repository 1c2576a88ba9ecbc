#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The card colours a request names, turned into terminal colours.
namespace sim {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
};

// "#RGB", "#RRGGBB" or "#RRGGBBAA" (the '#' optional, alpha ignored), or a common colour name;
// nothing for anything else, which the card then shows uncoloured.
std::optional<Rgb> parseColour(std::string_view text);

// The escape sequence that sets the foreground: 24-bit where the terminal says it has it
// (COLORTERM), else the nearest of the 256-colour palette, which every modern terminal has.
std::string foreground(Rgb colour, bool trueColour);

}  // namespace sim
