#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

namespace sim {

// One HTTP answer, as the sim sends it: the body is JSON unless a --force gave other text.
struct Reply {
  Reply() = default;
  Reply(int status, std::string body, std::string allow = "")
      : status(status), body(std::move(body)), allow(std::move(allow)) {}

  int status = 200;
  std::string body;
  std::string allow;  // the Allow header of a 405; empty otherwise
};

// {"error": text} with `status`.
Reply errorReply(int status, const std::string& text);

// Compact JSON. Text from the command line or a request may not be UTF-8; its bad bytes become
// U+FFFD rather than an exception.
std::string dumpJson(const nlohmann::json& value);

}  // namespace sim
