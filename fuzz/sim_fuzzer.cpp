// tarnel-sim on any request: the input is a request as it comes over the wire (method, target,
// headers, body), read by the HTTP parser the server uses, then judged, recorded and drawn as the
// person at the sim's terminal sees it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <utf8proc.h>
#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <nlohmann/json.hpp>

#include "app.h"
#include "card.h"
#include "catalogue.h"
#include "nesting.h"
#include "options.h"
#include "recorder.h"

namespace {

namespace http = boost::beast::http;
using nlohmann::json;

// Names the rule an input breaks, for the crash report.
#define CHECK(holds)                                                                 \
  do {                                                                               \
    if (!(holds)) {                                                                  \
      std::fprintf(stderr, "%s:%d: %s does not hold\n", __FILE__, __LINE__, #holds); \
      std::abort();                                                                  \
    }                                                                                \
  } while (false)

// How deep a parsed value nests arrays and objects, the outermost counting as 1 (a lone scalar
// is 0); without recursing, so that it answers for any value the parser builds.
size_t depthOf(const json& value) {
  size_t deepest = 0;
  std::vector<std::pair<const json*, size_t>> pending{{&value, 0}};
  while (!pending.empty()) {
    auto [at, outside] = pending.back();
    pending.pop_back();
    if (!at->is_structured()) continue;
    deepest = std::max(deepest, outside + 1);
    for (const auto& member : *at) pending.emplace_back(&member, outside + 1);
  }
  return deepest;
}

// What the terminal is shown: UTF-8 throughout, no control character but the newline, and an
// escape only to start one of the card's own colour sequences (none at all without colour).
void checkDrawn(std::string_view drawn, bool colour) {
  while (!drawn.empty()) {
    utf8proc_int32_t code = 0;
    const auto length = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(drawn.data()),
                                         static_cast<utf8proc_ssize_t>(drawn.size()), &code);
    CHECK(length > 0);
    CHECK(code == '\n' || code == 0x1b ||
          (code >= 0x20 && code != 0x7f && !(code < 0xa0 && code >= 0x80)));
    drawn.remove_prefix(static_cast<size_t>(length));
    if (code != 0x1b) continue;
    CHECK(colour && !drawn.empty() && drawn.front() == '[');
    const size_t end = drawn.find_first_not_of("[0123456789;");
    CHECK(end != std::string_view::npos && drawn[end] == 'm');
  }
}

// What the sim does with one request, and what must hold of it.
void take(std::string_view method, std::string_view target, std::string_view body) {
  static const sim::Options options;  // no script, no record: each question gets its default
  static sim::App app(options, sim::builtInCatalogue());

  const sim::Plan plan = app.receive(method, target, body);
  const bool tooDeep = sim::nestsDeeperThan(body);
  // The byte scan that guards the parser knows a body's depth as the parser builds it (and the
  // parser stops at a NUL).
  const std::string_view read = body.substr(0, body.find('\0'));
  const json parsed = json::parse(read, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_discarded()) {
    const size_t depth = depthOf(parsed);
    CHECK(!sim::nestsDeeperThan(read, depth) &&
          (depth == 0 || sim::nestsDeeperThan(read, depth - 1)));
  }
  const bool isJson = read.size() == body.size() && !parsed.is_discarded();

  // Every answer but a --force is JSON; every refusal says why, as a 400 with that error.
  CHECK(json::accept(plan.reply.body));
  CHECK(plan.refusal.empty() == (plan.reply.status != 400));
  if (!plan.refusal.empty()) CHECK(plan.reply.body == sim::errorReply(400, plan.refusal).body);
  if (tooDeep && method != "GET") CHECK(!plan.accepted);
  if (plan.accepted && plan.body.is_object()) {
    CHECK(depthOf(plan.body) <= sim::kMaxNesting);
    const json copy = plan.body;  // as the console keeps it; copying recurses once per level
    CHECK(copy == plan.body);
  }

  // One JSON line; the body as parsed, the text as sent, or null when too deep to keep.
  const std::string line = sim::recordLine({}, method, target, body, plan.refusal);
  CHECK(line.find('\n') == std::string::npos);
  const auto recorded = nlohmann::ordered_json::parse(line);
  CHECK(recorded.contains("refused") == !plan.refusal.empty());
  const auto& kept = recorded.at("body");
  if (body.empty() || tooDeep) {
    CHECK(kept.is_null());
  } else if (isJson) {
    CHECK(kept == nlohmann::ordered_json::parse(body));
  } else {
    CHECK(kept.is_string());
  }

  const sim::Catalogue& catalogue = app.catalogue();
  for (const sim::Style style :
       {sim::Style{false, false}, sim::Style{true, false}, sim::Style{true, true}}) {
    checkDrawn(sim::renderEvent("12:00:00", method, plan.path, style), style.colour);
    checkDrawn(sim::renderNote(plan.reply.body, style), style.colour);
    if (plan.accepted && plan.body.is_object()) {
      checkDrawn(sim::renderCard("12:00:00", plan.path, plan.body, catalogue, style), style.colour);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view wire(reinterpret_cast<const char*>(data), size);
  http::request_parser<http::string_body> parser;
  parser.header_limit(64 << 10);
  parser.body_limit(64 << 20);
  boost::system::error_code ec;
  size_t used = parser.put(boost::asio::buffer(wire.data(), wire.size()), ec);
  if (ec || !parser.is_header_done()) return 0;  // not a request: the server answers, unjudged
  const std::string method(parser.get().method_string());
  const std::string target(parser.get().target());

  // The bytes after the head are judged as they are, whatever the framing says, so that a change
  // to the body reaches the judge without a Content-Length kept in step.
  const std::string_view tail = wire.substr(used);
  take(method, target, tail);

  // And the body as the server reads it.
  parser.eager(true);
  while (!ec && !parser.is_done() && used < wire.size()) {
    const size_t more = parser.put(boost::asio::buffer(wire.data() + used, wire.size() - used), ec);
    if (more == 0) break;
    used += more;
  }
  if (!parser.is_done() && (!ec || ec == http::error::need_more)) {
    ec = {};
    parser.put_eof(ec);
  }
  if (!ec && parser.is_done() && parser.get().body() != tail) {
    take(method, target, parser.get().body());
  }
  return 0;
}
