#include "mcp/approve.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/visible_text.h"
#include "mcp/jsonrpc.h"
#include "mcp/raw_json.h"

namespace vesk::mcp {
namespace {

using Json = nlohmann::json;

// The bytes of `plain` (valid UTF-8) that hold its first `count` code points.
size_t firstCodePointsSize(std::string_view plain, size_t count) {
  size_t at = 0;
  for (; at < plain.size() && count > 0; --count) {
    do ++at;
    while (at < plain.size() && (static_cast<unsigned char>(plain[at]) & 0xc0) == 0x80);
  }
  return at;
}

struct Shown {
  std::string text;
  bool whole = true;
};

std::string notShown(size_t hidden) {
  return " … " + withThousands(hidden) + (hidden == 1 ? " character" : " characters") +
         " not shown … ";
}

// `text` in its visible form if that has at most `limit` characters; else its beginning and its
// end, two thirds and a third of what the count of the characters left out between them leaves
// of the limit.
Shown shownWithin(std::string_view text, size_t limit) {
  size_t width = 0;
  size_t characters = 0;
  forEachVisiblePiece(text, [&](const VisiblePiece& piece) {
    width += piece.width;
    characters += piece.characters;
  });
  if (width <= limit) return {visibleText(text)};

  // No fewer digits than the count will have.
  const size_t room = limit - std::min(limit, codePointCount(notShown(characters)));
  const size_t headWidth = room * 2 / 3;
  const size_t tailStart = width - (room - headWidth);  // the visible offset the end starts at
  std::string head, tail;
  size_t at = 0;  // visible offset of the piece
  size_t headCharacters = 0, tailCharacters = 0;
  forEachVisiblePiece(text, [&](const VisiblePiece& piece) {
    const size_t end = at + piece.width;
    if (at < headWidth) {
      if (end <= headWidth) {
        head.append(piece.shown);
        headCharacters += piece.characters;
      } else if (piece.plain) {
        head.append(piece.shown.substr(0, firstCodePointsSize(piece.shown, headWidth - at)));
        headCharacters += headWidth - at;
      }
    }
    if (end > tailStart) {
      if (at >= tailStart) {
        tail.append(piece.shown);
        tailCharacters += piece.characters;
      } else if (piece.plain) {
        const size_t kept = end - tailStart;
        tail.append(piece.shown.substr(firstCodePointsSize(piece.shown, piece.width - kept)));
        tailCharacters += kept;
      }
    }
    at = end;
  });
  return {head + notShown(characters - headCharacters - tailCharacters) + tail, false};
}

// A value as the card shows it: a string as its text, "" when empty; anything else as compact
// JSON, spelled as it came.
Shown shownValue(std::string_view raw) {
  if (raw.starts_with('"')) {
    // A text without escapes is its own decoded form: a long command is not held twice.
    std::string decoded;
    std::string_view text = raw.substr(1, raw.size() - 2);
    if (text.find('\\') != std::string_view::npos) text = decoded = decodedString(raw);
    if (text.empty()) return {"\"\""};
    return shownWithin(text, kLongestShownValue);
  }
  return shownWithin(compactJson(raw), kLongestShownValue);
}

// The label of a member: its name, but the agent's description of its own action is marked as
// what it is, the agent's words, not a fact the host vouches for.
Shown shownName(std::string_view rawKey) {
  std::string name = decodedString(rawKey);
  Shown shown = shownWithin(name, kLongestShownName);
  if (name == "description") shown.text += " (the agent's own words)";
  return shown;
}

ApprovalCard refused(std::string problem) {
  ApprovalCard card;
  card.whole = false;
  card.problem = std::move(problem);
  return card;
}

}  // namespace

ApprovalCard approvalCard(std::string_view toolName, std::string_view rawInput) {
  std::vector<RawMember> members = rawMembers(rawInput);
  if (members.empty() && compactJson(rawInput) != "{}") {
    return refused("the input to approve is not a JSON object");
  }
  std::set<std::string> names;
  for (const auto& member : members) {
    if (!names.insert(decodedString(member.key)).second) {
      return refused("the input names " + visibleText(decodedString(member.key)) +
                     " twice, and hosts differ on which one counts");
    }
  }

  // The member that names what the tool acts on leads, else the first the host sent.
  size_t lead = 0;
  bool leadIsNamed = false;
  for (std::string_view leading : kLeadingMembers) {
    auto named = std::find_if(members.begin(), members.end(), [&](const RawMember& member) {
      return decodedString(member.key) == leading;
    });
    if (named != members.end()) {
      lead = static_cast<size_t>(named - members.begin());
      leadIsNamed = true;
      break;
    }
  }

  ApprovalCard card;
  auto note = [&card](const Shown& shown) {
    card.whole = card.whole && shown.whole;
    return shown.text;
  };
  card.question = "Allow " + note(shownWithin(toolName, kLongestShownName)) + ": ";
  if (members.empty()) {
    card.question += "{}";
    return card;
  }
  if (!leadIsNamed) card.question += note(shownName(members[lead].key)) + ": ";
  card.question += note(shownValue(members[lead].value));

  // Room kept for the last line, which counts the members that did not fit.
  constexpr size_t kRoomForCount = 40;
  size_t width = codePointCount(card.question);
  for (size_t i = 0; i < members.size(); ++i) {
    if (i == lead) continue;
    Shown name = shownName(members[i].key);
    Shown value = shownValue(members[i].value);
    std::string line = "\n" + name.text + ": " + value.text;
    const size_t lineWidth = codePointCount(line);
    if (width + lineWidth > kLongestQuestion - kRoomForCount) {
      const size_t left = members.size() - i - (i < lead ? 1 : 0);
      card.question += "\n… " + withThousands(left) +
                       (left == 1 ? " more member" : " more members") + " not shown …";
      card.whole = false;
      break;
    }
    note(name);
    note(value);
    card.question += line;
    width += lineWidth;
  }
  return card;
}

std::string approvalTitle(std::string_view name) {
  return shownWithin(name, kLongestTitle).text;
}

std::string folderName(std::string_view path) {
  while (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos || path.size() == 1) return std::string(path);
  return std::string(path.substr(slash + 1));
}

std::string currentFolder() {
  std::error_code error;
  return std::filesystem::current_path(error).string();
}

Verdict verdictOf(const std::optional<std::string>& answer) {
  if (!answer) return Verdict::dismissed;
  return *answer == "Allow" ? Verdict::allowed : Verdict::denied;
}

std::string refusalFor(const std::optional<std::string>& answer, std::string_view toolName) {
  if (!answer) return "the user dismissed the request in the notch";
  if (*answer == "Deny") return "the user denied " + std::string(toolName) + " in the notch";
  return "the user answered \"" + *answer + "\" in the notch";
}

std::string tooLongToShow(std::string_view toolName) {
  return "denied without asking: this " + std::string(toolName) +
         " call is longer than the card in the notch can show whole, and vesk-mcp runs with "
         "--approve-whole. Do it in smaller steps the user can read whole";
}

std::string allowDecision(std::string_view rawInput) {
  return R"({"behavior":"allow","updatedInput":)" + std::string(rawInput) + "}";
}

std::string denial(std::string_view message) {
  // No "interrupt": the agent reads the message and goes on with its turn.
  return lineOf({{"behavior", "deny"}, {"message", std::string(message)}});
}

}  // namespace vesk::mcp
