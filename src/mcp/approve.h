#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Approvals from the notch: an agent host hands a permission decision to vesk-mcp, as a call of
// the approve tool or through its PermissionRequest hook, and the user decides on a card that
// shows everything Allow approves.
namespace vesk::mcp {

// What the card shows of one value, in visible characters (see cli/visible_text.h): a longer value
// is shown as its beginning and its end around "… N characters not shown …".
constexpr size_t kLongestShownValue = 500;
// The same for the name of the tool and the name of each member.
constexpr size_t kLongestShownName = 100;
// The whole question, in visible characters; the members that do not fit are counted at its end.
constexpr size_t kLongestQuestion = 2000;
// The card's title: who asks.
constexpr size_t kLongestTitle = 60;

// The members that name what a tool acts on, in the order one is chosen to lead the card.
constexpr std::string_view kLeadingMembers[] = {"command", "file_path", "url", "path", "pattern"};

struct ApprovalCard {
  std::string question;
  // Nothing of the input was cut or left out; escaped characters still count as shown.
  bool whole = true;
  // Why no card can honestly be shown: the input is not one JSON object, or names a member twice.
  std::optional<std::string> problem;
};

// The card for running `toolName` with `rawInput`, the JSON text of its input as the host sent
// it: "Allow <tool>: <leading member>", then each other member on a line of its own, in the order
// sent, as "<name>: <value>".
ApprovalCard approvalCard(std::string_view toolName, std::string_view rawInput);

// The card's title: `name` as the card shows it, cut to kLongestTitle.
std::string approvalTitle(std::string_view name);

// The last component of a folder's path: the agent's project, as the card names it.
std::string folderName(std::string_view path);
// The path of the folder the process runs in; empty when it cannot be told.
std::string currentFolder();

// How the user answered: nothing when they dismissed the card.
enum class Verdict { allowed, denied, dismissed };
Verdict verdictOf(const std::optional<std::string>& answer);
// Why the agent may not go on, in words it can act on: "Deny", or another answer the user typed.
std::string refusalFor(const std::optional<std::string>& answer, std::string_view toolName);
// Why a card that cannot show the input whole was not shown, under --approve-whole.
std::string tooLongToShow(std::string_view toolName);

// The approve tool's decisions, as JSON text: Allow returns the input exactly as it came.
std::string allowDecision(std::string_view rawInput);
std::string denial(std::string_view message);

}  // namespace vesk::mcp
