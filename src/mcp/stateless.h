#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// The protocol's 2026-07-28 revision, which keeps no session: each request names its revision and
// the client's capabilities in its _meta, and is answered on its own, beside a session that an
// initialize may have opened for the earlier revisions.
namespace vesk::mcp {

struct Message;

// Which era a request belongs to, told from its own _meta and method alone.
struct Claim {
  enum class Kind {
    session,      // no sign of 2026-07-28: the session's rules (initialize first)
    stateless,    // a well-formed 2026-07-28 request
    malformed,    // a 2026-07-28 request that lacks a required field or has it wrong: -32602
    unsupported,  // names a revision that has no per-request form: -32022
  };
  Kind kind = Kind::session;
  std::string detail;  // malformed: what is wrong; unsupported: the revision asked for
};

// A request is a 2026-07-28 one when its _meta names a protocol version; one whose _meta holds
// any other io.modelcontextprotocol/ key, or whose method only 2026-07-28 has (server/discover,
// subscriptions/listen), is a 2026-07-28 request that lost its version. Everything else, a
// request with no _meta at all included, belongs to the session.
Claim claimOf(const Message& request);

// The server's name and version, as initialize gives them and every 2026-07-28 result's _meta.
nlohmann::json serverInfo();

// A 2026-07-28 result: it says it is complete and which server answered.
nlohmann::json completed(nlohmann::json result);

// How long, and for whom, a client may keep a list: the tools are the same for every client and
// change only with the program, which a new process brings.
nlohmann::json cacheable(nlohmann::json result);

// The error for a request that names a revision the server does not serve per request.
nlohmann::json unsupportedVersion(const nlohmann::json& id, std::string_view requested);

// A subscription, and its end: the server sends no notification of any kind, so it honours
// none of those asked for, and keeps the subscription open only until it is cancelled or the
// input ends.
nlohmann::json acknowledgement(const nlohmann::json& subscription);
nlohmann::json subscriptionClosed(const nlohmann::json& subscription);

}  // namespace vesk::mcp
