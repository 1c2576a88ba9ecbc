#include "mcp/jsonrpc.h"

#include <algorithm>
#include <cmath>

#include "cli/byte_scan.h"
#include "mcp/line_json.h"
#include "mcp/raw_json.h"

namespace vesk::mcp {
namespace {

using Json = nlohmann::json;

Message invalid(ErrorCode error, std::string problem, Json id = nullptr) {
  Message message;
  message.id = std::move(id);
  message.error = error;
  message.problem = std::move(problem);
  return message;
}

// MCP narrows JSON-RPC's ids to strings and integers. An integer written with a fraction or an
// exponent (2.0, 1e3) is still one: JavaScript clients cannot tell them apart.
bool isRequestId(const Json& id) {
  if (id.is_string() || id.is_number_integer()) return true;
  if (!id.is_number_float()) return false;
  const double value = id.get<double>();
  return std::isfinite(value) && std::trunc(value) == value;
}

// One message of a line, or of a batch.
Message messageOf(Json document) {
  if (!document.is_object()) return invalid(kInvalidRequest, "a message must be a JSON object");

  Json id = nullptr;
  if (auto found = document.find("id"); found != document.end()) {
    if (!isRequestId(*found)) {
      return invalid(kInvalidRequest, "the id must be a string or an integer");
    }
    id = *found;
  }
  auto version = document.find("jsonrpc");
  if (version == document.end() || *version != "2.0") {
    return invalid(kInvalidRequest, R"(the message must say "jsonrpc": "2.0")", id);
  }

  Message message;
  message.id = id;
  auto method = document.find("method");
  if (method == document.end()) {
    if (id.is_null() || !(document.contains("result") || document.contains("error"))) {
      return invalid(kInvalidRequest, "the message has no method", id);
    }
    message.kind = Message::Kind::response;
    return message;
  }
  if (!method->is_string()) return invalid(kInvalidRequest, "the method must be a string", id);
  message.method = method->get<std::string>();
  message.params = Json::object();
  if (auto params = document.find("params"); params != document.end()) {
    if (!params->is_object()) return invalid(kInvalidParams, "params must be an object", id);
    message.params = std::move(*params);
  }
  message.kind = id.is_null() ? Message::Kind::notification : Message::Kind::request;
  return message;
}

}  // namespace

// It counts the brackets outside strings and checks nothing else: in JSON they are the levels, and
// what is not JSON the parser refuses after it.
bool nestsTooDeep(std::string_view text) {
  size_t level = 0;
  bool inString = false;
  for (size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (inString) {
      at += plainPrefix(text.substr(at));  // a long text goes by many bytes at a time
      if (at == text.size()) break;
      if (text[at] == '\\') {
        ++at;  // the byte it escapes ends nothing
      } else if (text[at] == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++level > kMostLevels) return true;
    } else if ((c == ']' || c == '}') && level > 0) {
      --level;
    }
  }
  return false;
}

Incoming parseLine(std::string_view text, bool batches, std::string* owner,
                   const std::function<LongestText(const Json& message)>& textUse) {
  Incoming incoming;
  // The parser would end the document at a NUL byte and take what came before it for the line.
  if (text.find('\0') != std::string_view::npos) {
    incoming.messages.push_back(invalid(kParseError, "parse error: the line holds a NUL byte"));
    return incoming;
  }
  if (nestsTooDeep(text)) {
    incoming.messages.push_back(invalid(kParseError, "parse error: the line nests deeper than " +
                                                         std::to_string(kMostLevels) + " levels"));
    return incoming;
  }
  bool taken = false;
  Json document = parseLineJson(text, owner, [&](const Json& read) {
    const auto useOf = [&](const Json& message) {
      return textUse ? textUse(message) : LongestText::taken;
    };
    const auto keeps = [&](const Json& message) { return useOf(message) != LongestText::taken; };
    const bool kept = read.is_array() ? std::any_of(read.begin(), read.end(), keeps) : keeps(read);
    taken = !kept && owner;
    if (!kept) return LongestText::taken;
    const Json* holder = &read;
    if (read.is_array()) {
      auto found = std::find_if(read.begin(), read.end(), holdsLongestText);
      holder = found != read.end() ? &*found : nullptr;
    }
    return holder && useOf(*holder) == LongestText::unread ? LongestText::unread
                                                           : LongestText::copied;
  });
  if (taken) text = {};  // the line is the document's now: no message keeps a view of it
  if (document.is_discarded()) {
    incoming.messages.push_back(invalid(kParseError, "parse error: the line is not JSON"));
  } else if (!document.is_array()) {
    incoming.messages.push_back(messageOf(std::move(document)));
    incoming.messages.back().raw = text;
  } else if (!batches) {
    incoming.messages.push_back(
        invalid(kInvalidRequest, "batches are not supported in this protocol revision"));
  } else if (document.empty()) {
    incoming.messages.push_back(invalid(kInvalidRequest, "a batch must hold a message"));
  } else {
    incoming.batch = true;
    for (auto& element : document) incoming.messages.push_back(messageOf(std::move(element)));
    auto raw = rawElements(text);
    for (size_t i = 0; i < raw.size() && i < incoming.messages.size(); ++i) {
      incoming.messages[i].raw = raw[i];
    }
  }
  return incoming;
}

Json resultMessage(const Json& id, Json result) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

Json errorMessage(const Json& id, ErrorCode code, std::string_view message) {
  return {{"jsonrpc", "2.0"},
          {"id", id},
          {"error", {{"code", static_cast<int>(code)}, {"message", std::string(message)}}}};
}

Json notificationMessage(std::string_view method, const Json& params) {
  return {{"jsonrpc", "2.0"}, {"method", std::string(method)}, {"params", params}};
}

// Text from the client may hold anything; what goes back must be valid UTF-8 all the same.
std::string lineOf(const Json& message) {
  return message.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace vesk::mcp
