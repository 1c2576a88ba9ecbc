#include "mcp/approve.h"

#include <utf8proc.h>

#include "cli/unicode.h"
#include "mcp/jsonrpc.h"

namespace vesk::mcp {
namespace {

using Json = nlohmann::json;

// Enough to read a command at a glance on a card; the host shows the rest in its own log.
constexpr size_t kSummaryCharacters = 200;

std::string summaryOf(const Json& input) {
  for (const char* member : {"command", "file_path"}) {
    auto found = input.find(member);
    if (found != input.end() && found->is_string()) return found->get<std::string>();
  }
  return lineOf(input);  // compact JSON
}

// `text` cut after `count` characters (code points), with "…" when something was cut. A byte
// that starts no UTF-8 sequence counts as a character of its own.
std::string firstCodePoints(const std::string& text, size_t count) {
  size_t at = 0;
  for (size_t taken = 0; at < text.size() && taken < count; ++taken) {
    utf8proc_int32_t codepoint;
    auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at),
                              static_cast<utf8proc_ssize_t>(text.size() - at), &codepoint);
    at += n > 0 ? static_cast<size_t>(n) : 1;
  }
  if (at == text.size()) return text;
  return text.substr(0, at) + "…";
}

}  // namespace

std::string approvalQuestion(std::string_view toolName, const Json& input) {
  // Every control character escaped, line feeds and tabs included: the question is one line,
  // and no command can hide a part of itself behind a carriage return.
  return "Allow " + withVisibleControls(toolName, LineBreaks::escape) + ": " +
         withVisibleControls(firstCodePoints(summaryOf(input), kSummaryCharacters),
                             LineBreaks::escape);
}

std::string approvalDecision(const std::optional<std::string>& answer, std::string_view toolName,
                             const Json& input) {
  if (!answer) return denial("the user dismissed the request in the notch");
  if (*answer == "Allow") return lineOf({{"behavior", "allow"}, {"updatedInput", input}});
  if (*answer == "Deny")
    return denial("the user denied " + std::string(toolName) + " in the notch");
  return denial("the user answered \"" + *answer + "\" in the notch");
}

std::string denial(std::string_view message) {
  // No "interrupt": the agent reads the message and goes on with its turn.
  return lineOf({{"behavior", "deny"}, {"message", std::string(message)}});
}

}  // namespace vesk::mcp
