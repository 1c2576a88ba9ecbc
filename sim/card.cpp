#include "card.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "cli/visible_text.h"
#include "colour.h"

namespace sim {
namespace {

constexpr std::string_view kReset = "\x1b[0m";
constexpr std::string_view kBold = "\x1b[1m";
constexpr std::string_view kDim = "\x1b[2m";
constexpr std::string_view kDefaultAccent = "#7FD6FF";

std::string paint(std::string_view text, std::string_view code, const Style& style) {
  if (!style.colour || code.empty()) return std::string(text);
  return std::string(code).append(text).append(kReset);
}

std::string colourCode(std::string_view hex, const Style& style) {
  auto rgb = parseColour(hex);
  return rgb ? foreground(*rgb, style.trueColour) : "";
}

// A request's text on one line as the notch would have to show it, each character visible (see
// cli/visible_text.h): no text a client sends drives the terminal, hides itself or reorders the
// text around it. Tabs become spaces.
std::string printable(std::string_view text) {
  std::string spaced(text);
  std::replace(spaced.begin(), spaced.end(), '\t', ' ');
  return vesk::visibleText(spaced);
}

std::string text(const nlohmann::json& body, const char* key) {
  auto member = body.find(key);
  return member != body.end() && member->is_string() ? member->get<std::string>() : "";
}

class CardLines {
 public:
  CardLines(std::string bar, const Style& style) : bar_(std::move(bar)), style_(style) {}

  // One line of the card per line of `content`, which may span several.
  void add(std::string_view content) {
    size_t at = 0;
    while (true) {
      size_t end = content.find('\n', at);
      out_ += paint("│", bar_, style_) + " " + printable(content.substr(at, end - at)) + "\n";
      if (end == std::string_view::npos) return;
      at = end + 1;
    }
  }
  void addPainted(const std::string& painted) {  // already printable
    out_ += paint("│", bar_, style_) + " " + painted + "\n";
  }
  std::string take() { return std::move(out_); }

 private:
  std::string bar_;
  const Style& style_;
  std::string out_;
};

std::string characterLine(const nlohmann::json& body, const Character* character) {
  std::string name = text(body, "character");
  std::string face = text(body, "face");
  if (!character) return printable(name) + " (no such character)";
  std::string line = printable(character->name) + " · ";
  if (face.empty()) return line + printable(character->faces.front());
  bool known =
      std::find(character->faces.begin(), character->faces.end(), face) != character->faces.end();
  return line + printable(face) + (known ? "" : " (no such face)");
}

std::string gameLine(const nlohmann::json& body) {
  std::string line = "game: " + text(body, "game");
  if (auto mode = text(body, "hangman_mode"); !mode.empty()) line += " · " + mode;
  if (auto word = text(body, "hangman_word"); !word.empty()) line += " · word: " + word;
  return line;
}

}  // namespace

Style terminalStyle() {
  Style style;
  style.colour = isatty(STDOUT_FILENO) != 0;
  const char* colorterm = std::getenv("COLORTERM");
  std::string_view value = colorterm ? colorterm : "";
  style.trueColour = value == "truecolor" || value == "24bit";
  return style;
}

std::string renderCard(std::string_view clock, std::string_view path, const nlohmann::json& body,
                       const Catalogue& catalogue, const Style& style) {
  const std::string characterName = text(body, "character");
  const Character* character =
      characterName.empty() ? nullptr : findCharacter(catalogue, characterName);
  std::string accent = text(body, "accent_hex");
  if (accent.empty()) accent = character ? character->accentHex : std::string(kDefaultAccent);
  const std::string bar = colourCode(accent, style);

  std::string out = paint("╭─", bar, style) + " " +
                    paint(std::string(clock) + "  " + std::string(path), kDim, style) + "\n";
  CardLines lines(bar, style);
  if (path == "/game") {
    lines.add(gameLine(body));
  } else {
    std::string speaker = text(body, "name");
    if (speaker.empty()) speaker = character ? character->name : "Tarnel";
    std::string nameColour = text(body, "name_color");
    std::string heading = paint(printable(speaker), kBold, style);
    if (auto code = colourCode(nameColour.empty() ? accent : nameColour, style); !code.empty()) {
      heading = paint(paint(printable(speaker), code, style), kBold, style);
    }
    if (auto title = text(body, "title"); !title.empty()) {
      heading += paint(" · ", kDim, style) + paint(printable(title), kBold, style);
    }
    lines.addPainted(heading);
    lines.add(text(body, "message"));
  }
  if (!characterName.empty()) lines.addPainted(paint(characterLine(body, character), kDim, style));
  if (auto url = text(body, "image_url"); !url.empty()) lines.add("image: " + url);
  if (auto data = text(body, "image_base64"); !data.empty()) {
    lines.add("image: " + std::to_string(data.size()) + " characters of base64");
  }
  // Only a question has proposed answers, checked to be texts; elsewhere they are a field the app
  // does not read.
  if (auto proposed = body.find("proposed_answers"); path == "/chat" && proposed != body.end()) {
    std::string choices;
    for (size_t i = 0; i < proposed->size(); ++i) {
      choices += "  " + paint(std::to_string(i + 1) + ")", kBold, style) + " " +
                 printable((*proposed)[i].get<std::string>());
    }
    lines.addPainted(choices);
  }
  return out + lines.take() + paint("╰─", bar, style) + "\n";
}

std::string renderEvent(std::string_view clock, std::string_view method, std::string_view path,
                        const Style& style) {
  return paint("· " + std::string(clock) + "  " + std::string(method) + " " + printable(path), kDim,
               style) +
         "\n";
}

std::string renderPrompt(Held held, size_t alsoWaiting, const Style& style) {
  std::string help;
  switch (held) {
    case Held::chat:
      help = "answer: a number picks, other text is the answer, an empty line dismisses";
      break;
    case Held::listen:
      help = "compose: type a message to send, an empty line cancels";
      break;
    case Held::game:
      help = "game over: type the result, an empty line sends \"user won\"";
      break;
  }
  if (alsoWaiting > 0) help += " (" + std::to_string(alsoWaiting) + " more waiting)";
  return paint(help, kDim, style) + "\n" + paint(">", kBold, style) + " ";
}

std::string renderNote(std::string_view text, const Style& style) {
  return paint(printable(text), kDim, style) + "\n";
}

}  // namespace sim
