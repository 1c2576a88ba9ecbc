#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vesk {
class Cancellation;
}

// The tools vesk-mcp serves: one per vesk command, each making the request that command makes.
namespace vesk::mcp {

struct Tool;

// Nothing when no tool has that name.
const Tool* findTool(std::string_view name);

// The result of tools/list: every tool with its input schema and, where it returns data, its
// output schema.
const nlohmann::json& toolList();

// Whether a call of the tool waits for a person (a question, a compose, a game) rather than
// only for the app.
bool waitsForPerson(const Tool& tool);

// What is wrong with `arguments` (a JSON object) by the tool's input schema, or nothing.
std::optional<std::string> argumentProblem(const Tool& tool, const nlohmann::json& arguments);

// Runs a call with arguments that passed argumentProblem, against the app on `port`, and
// returns the CallToolResult. A failure is a result with isError and vesk's message. Blocks,
// for as long as the app holds the request open, unless `cancellation` ends it. Call it on a
// thread of its own: it sets that thread's failure handler.
nlohmann::json callTool(const Tool& tool, const nlohmann::json& arguments, int port,
                        Cancellation& cancellation);

// A CallToolResult that reports a failure.
nlohmann::json toolError(std::string_view message);

}  // namespace vesk::mcp
