#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// JSON-RPC 2.0 as MCP's stdio transport carries it: one message per line, no batches.
namespace vesk::mcp {

enum ErrorCode {
  kParseError = -32700,
  kInvalidRequest = -32600,
  kMethodNotFound = -32601,
  kInvalidParams = -32602,
  kServerNotInitialized = -32002,
};

// The deepest a line may nest arrays and objects, the outermost counting as level 1. A deeper
// line is refused before it is parsed: nothing in the server, copies and dumps included, meets
// a value nested deeper than this.
constexpr size_t kMostLevels = 512;

// One line from the client, taken apart.
struct Message {
  enum class Kind { request, notification, response, invalid };
  Kind kind = Kind::invalid;
  nlohmann::json id;      // a request's id, a string or a number; null when there is none
  std::string method;     // requests and notifications
  nlohmann::json params;  // an object; empty when the message has none
  ErrorCode error = kInvalidRequest;  // for an invalid message, with `problem`
  std::string problem;
};

// A line that is not JSON, or nests deeper than kMostLevels, is a parse error.
Message parseMessage(std::string_view line);

// The lines that answer a request, without the line feed.
std::string resultLine(const nlohmann::json& id, const nlohmann::json& result);
std::string errorLine(const nlohmann::json& id, ErrorCode code, std::string_view message);

}  // namespace vesk::mcp
