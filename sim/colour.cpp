#include "colour.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>

namespace sim {
namespace {

struct NamedColour {
  std::string_view name;
  Rgb rgb;
};

constexpr NamedColour kNames[] = {
    {"black", {0, 0, 0}},      {"white", {255, 255, 255}}, {"red", {255, 59, 48}},
    {"green", {52, 199, 89}},  {"blue", {0, 122, 255}},    {"yellow", {255, 204, 0}},
    {"orange", {255, 149, 0}}, {"purple", {175, 82, 222}}, {"pink", {255, 45, 85}},
    {"cyan", {50, 173, 230}},  {"teal", {48, 176, 199}},   {"gray", {142, 142, 147}},
    {"grey", {142, 142, 147}}, {"brown", {162, 132, 94}},  {"indigo", {88, 86, 214}},
};

std::optional<int> hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return std::nullopt;
}

std::optional<std::uint8_t> hexByte(char high, char low) {
  auto h = hexDigit(high), l = hexDigit(low);
  if (!h || !l) return std::nullopt;
  return static_cast<std::uint8_t>(*h * 16 + *l);
}

// The 256-colour palette's 6x6x6 cube has these levels on each axis.
constexpr std::array<int, 6> kCubeLevels = {0, 95, 135, 175, 215, 255};

int nearestLevel(std::uint8_t value) {
  int best = 0;
  for (int i = 1; i < 6; ++i) {
    if (std::abs(kCubeLevels[i] - value) < std::abs(kCubeLevels[best] - value)) best = i;
  }
  return best;
}

}  // namespace

std::optional<Rgb> parseColour(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const auto& named : kNames) {
    if (lower == named.name) return named.rgb;
  }
  std::string digits = lower.starts_with('#') ? lower.substr(1) : lower;
  if (digits.size() == 3)
    digits = {digits[0], digits[0], digits[1], digits[1], digits[2], digits[2]};
  if (digits.size() != 6 && digits.size() != 8) return std::nullopt;
  std::array<std::uint8_t, 4> bytes{};
  for (size_t i = 0; i < digits.size() / 2; ++i) {
    auto byte = hexByte(digits[2 * i], digits[2 * i + 1]);
    if (!byte) return std::nullopt;
    bytes[i] = *byte;
  }
  return Rgb{bytes[0], bytes[1], bytes[2]};
}

std::string foreground(Rgb colour, bool trueColour) {
  if (trueColour) {
    return "\x1b[38;2;" + std::to_string(colour.r) + ";" + std::to_string(colour.g) + ";" +
           std::to_string(colour.b) + "m";
  }
  int index =
      16 + 36 * nearestLevel(colour.r) + 6 * nearestLevel(colour.g) + nearestLevel(colour.b);
  return "\x1b[38;5;" + std::to_string(index) + "m";
}

}  // namespace sim
