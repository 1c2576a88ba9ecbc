#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "mcp/revision.h"
#include "mcp/settings.h"

namespace vesk {
class Cancellation;
}

// The tools vesk-mcp serves: one per vesk command, each making the request that command makes,
// and approve, which asks the user for a host's permission decision.
namespace vesk::mcp {

struct Tool;

// Nothing when no tool has that name.
const Tool* findTool(std::string_view name);

// Whether a call of the tool waits until a person acts in the notch, for as long as they take.
bool waitsForPerson(const Tool& tool);

// The result of tools/list under `revision`: every tool with its input schema and what that
// revision has of its title, its annotations and its output schema.
const nlohmann::json& toolList(Revision revision);

// What is wrong with `arguments` (a JSON object) by the tool's input schema, or nothing.
std::optional<std::string> argumentProblem(const Tool& tool, const nlohmann::json& arguments);

// Whether the tool is a host's permission decision, which fails closed: every call that cannot
// be carried out is answered with a refusal, and the raw text of its arguments is needed.
bool isApproval(const Tool& tool);

// Runs a call with arguments that passed argumentProblem, against the app on the settings' port,
// and returns the CallToolResult as `revision` has it. A failure is a result with isError and
// vesk's message, or an approval's refusal. `rawArguments`, the arguments' JSON text as the client
// wrote it, is read by approvals only. Blocks, for as long as the app holds the request open,
// unless `cancellation` ends it. Call it on a thread of its own: it sets that thread's failure
// handler.
nlohmann::json callTool(const Tool& tool, const nlohmann::json& arguments,
                        std::string_view rawArguments, const Settings& settings, Revision revision,
                        Cancellation& cancellation);

// A CallToolResult that reports a failure.
nlohmann::json toolError(std::string_view message);

// The CallToolResult of a call that cannot be carried out: an error, or an approval's refusal.
nlohmann::json refusedCall(const Tool& tool, std::string_view message);

}  // namespace vesk::mcp
