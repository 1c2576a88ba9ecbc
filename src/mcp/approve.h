#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Approvals from the notch: an agent host hands each permission decision to the approve tool,
// which asks the user and answers with a decision the host reads as JSON text.
namespace vesk::mcp {

// The card's question, "Allow <tool>: <summary>": the command a shell tool would run, else the
// file a file tool would touch, else the whole input; cut to a glance and always one line.
std::string approvalQuestion(std::string_view toolName, const nlohmann::json& input);

// The decision for the user's answer (nothing when they dismissed the card): only "Allow",
// exactly, lets the tool run, with its input unchanged.
std::string approvalDecision(const std::optional<std::string>& answer, std::string_view toolName,
                             const nlohmann::json& input);

// A refusal that carries `message`, for a call that failed: an approval fails closed.
std::string denial(std::string_view message);

}  // namespace vesk::mcp
