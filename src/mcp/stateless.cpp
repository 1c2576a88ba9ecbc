#include "mcp/stateless.h"

#include "mcp/jsonrpc.h"
#include "mcp/revision.h"

namespace vesk::mcp {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kPrefix = "io.modelcontextprotocol/";
constexpr const char* kVersionKey = "io.modelcontextprotocol/protocolVersion";
constexpr const char* kCapabilitiesKey = "io.modelcontextprotocol/clientCapabilities";
constexpr const char* kServerInfoKey = "io.modelcontextprotocol/serverInfo";
constexpr const char* kSubscriptionKey = "io.modelcontextprotocol/subscriptionId";

// An hour: long enough to spare a host the asking, short enough that a gateway sharing its cache
// between processes forgets the tools of a version of vesk-mcp soon after an upgrade.
constexpr int kListFreshMilliseconds = 3'600'000;

Claim malformed(std::string detail) {
  return {Claim::Kind::malformed, std::move(detail)};
}

}  // namespace

Claim claimOf(const Message& request) {
  auto meta = request.params.find("_meta");
  const bool hasMeta = meta != request.params.end() && meta->is_object();
  if (!hasMeta || !meta->contains(kVersionKey)) {
    bool marked = request.method == "server/discover" || request.method == "subscriptions/listen";
    if (hasMeta) {
      for (const auto& item : meta->items()) marked = marked || item.key().starts_with(kPrefix);
    }
    if (!marked) return {};
    return malformed(std::string("the request's _meta has no ") + kVersionKey);
  }
  const Json& version = meta->at(kVersionKey);
  if (!version.is_string()) return malformed(std::string(kVersionKey) + " must be a string");
  auto capabilities = meta->find(kCapabilitiesKey);
  if (capabilities == meta->end() || !capabilities->is_object()) {
    return malformed(std::string("the request's _meta needs ") + kCapabilitiesKey + ", an object");
  }
  const std::string& date = version.get_ref<const std::string&>();
  auto revision = revisionNamed(date);
  if (!revision || !isStateless(*revision)) return {Claim::Kind::unsupported, date};
  return {Claim::Kind::stateless, {}};
}

Json serverInfo() {
  return {{"name", "vesk-mcp"}, {"version", VESK_VERSION}};
}

Json completed(Json result) {
  result["resultType"] = "complete";
  result["_meta"][kServerInfoKey] = serverInfo();
  return result;
}

Json cacheable(Json result) {
  result["ttlMs"] = kListFreshMilliseconds;
  result["cacheScope"] = "public";
  return result;
}

Json unsupportedVersion(const Json& id, std::string_view requested) {
  // The earlier revisions are served too, but only in a session that initialize opens.
  Json error = errorMessage(id, kUnsupportedProtocolVersion,
                            "unsupported protocol version: " + std::string(requested) +
                                " (2026-07-28 is served per request; earlier revisions after "
                                "initialize)");
  error["error"]["data"] = {{"supported", allDates()}, {"requested", requested}};
  return error;
}

Json acknowledgement(const Json& subscription) {
  return notificationMessage(
      "notifications/subscriptions/acknowledged",
      {{"_meta", {{kSubscriptionKey, subscription}}}, {"notifications", Json::object()}});
}

Json subscriptionClosed(const Json& subscription) {
  Json result = {{"_meta", {{kSubscriptionKey, subscription}}}};
  return resultMessage(subscription, completed(std::move(result)));
}

}  // namespace vesk::mcp
