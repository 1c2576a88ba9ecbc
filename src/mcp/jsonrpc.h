#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "mcp/line_json.h"

// JSON-RPC 2.0 as MCP's stdio transport carries it: one message per line, or under the
// protocol's 2025-03-26 revision a batch of them.
namespace vesk::mcp {

enum ErrorCode {
  kParseError = -32700,
  kInvalidRequest = -32600,
  kMethodNotFound = -32601,
  kInvalidParams = -32602,
  kServerNotInitialized = -32002,        // until initialize, to a client of a session revision
  kUnsupportedProtocolVersion = -32022,  // a 2026-07-28-style request naming another revision
};

// The deepest a line may nest arrays and objects, the outermost counting as level 1. A deeper
// line is refused before it is parsed: nothing in the server, copies and dumps included, meets
// a value nested deeper than this.
constexpr size_t kMostLevels = 512;

// One line from the client, taken apart.
struct Message {
  enum class Kind { request, notification, response, invalid };
  Kind kind = Kind::invalid;
  nlohmann::json id;      // a request's id, a string or an integer; null when there is none
  std::string method;     // requests and notifications
  nlohmann::json params;  // an object; empty when the message has none
  ErrorCode error = kInvalidRequest;  // for an invalid message, with `problem`
  std::string problem;
  // The message's own text in its line, as the client wrote it; valid while the line is handled.
  std::string_view raw;
  // The line `raw` lies in, when it is the message's alone and a call may take it over.
  std::string* line = nullptr;
};

// One line from the client: a message, or a batch of them (a JSON array of at least one).
struct Incoming {
  std::vector<Message> messages;
  bool batch = false;  // answered, if at all, with one array
};

// Whether `text` nests arrays and objects deeper than kMostLevels, judged from its brackets alone,
// so before anything parses it.
bool nestsTooDeep(std::string_view text);

// A line that is not JSON, or nests deeper than kMostLevels, is a parse error; a batch where
// `batches` is false, or an empty one, is an invalid message.
// `owner`, when given, holds the line whole: the document takes it, unless `textUse` says of one
// of its messages that it reads the line's own text (Message::raw), by answering other than
// `taken`; then the message holding the longest text says whether its value is read at all.
Incoming parseLine(
    std::string_view line, bool batches, std::string* owner = nullptr,
    const std::function<LongestText(const nlohmann::json& message)>& textUse = nullptr);

// The messages that answer a request.
nlohmann::json resultMessage(const nlohmann::json& id, nlohmann::json result);
nlohmann::json errorMessage(const nlohmann::json& id, ErrorCode code, std::string_view message);
nlohmann::json notificationMessage(std::string_view method, const nlohmann::json& params);

// A message as one line, without the line feed.
std::string lineOf(const nlohmann::json& message);

}  // namespace vesk::mcp
