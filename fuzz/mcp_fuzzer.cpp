// vesk-mcp's session on any sequence of lines, with the app replaced by a stub: every request gets
// exactly one well-formed answer with its id, notifications and answers from the client none;
// a line that is not JSON, holds a NUL byte, nests too deep or runs too long gets a parse error
// without an id (null in a session of the revisions that have one); until initialize is answered
// only ping and 2026-07-28 requests are, and nothing else reaches the app; a 2026-07-28 request
// never gets -32002, and each of its results says it is complete and names the server. The first
// byte sets the size of the reads the lines arrive in; each call ends before the next line, so no
// thread outlives an input.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/visible_text.h"
#include "mcp/approve.h"
#include "mcp/jsonrpc.h"
#include "mcp/line_json.h"
#include "mcp/line_reader.h"
#include "mcp/raw_json.h"
#include "mcp/server.h"
#include "mcp/tools.h"

namespace {

using Json = nlohmann::json;
using namespace vesk::mcp;

// Small, so that inputs reach it; room for a line at the nesting limit.
constexpr size_t kLongestLine = 2048;

// The stub answers at once: no call waits long enough for progress.
constexpr double kNoProgress = 3600;

void require(bool holds) {
  if (!holds) std::abort();
}

// What the session owes a line, judged apart from its own reading of it.
struct Owed {
  enum Kind { nothing, parseError, error, request, batch };
  Owed(Kind kind = nothing, Json id = nullptr, std::string method = "")
      : kind(kind), id(std::move(id)), method(std::move(method)) {}
  Kind kind;
  Json id;  // what the answer must carry
  std::string method;
  bool stateless = false;  // carries a sign of 2026-07-28
};

// A 2026-07-28 request, by any sign of it: a key of the protocol's in its _meta, or a method that
// only 2026-07-28 has.
bool stateless(const Json& message) {
  if (message["method"] == "server/discover" || message["method"] == "subscriptions/listen") {
    return true;
  }
  const auto params = message.find("params");
  if (params == message.end() || !params->contains("_meta") || !(*params)["_meta"].is_object()) {
    return false;
  }
  const Json& meta = (*params)["_meta"];
  return std::any_of(meta.items().begin(), meta.items().end(), [](const auto& item) {
    return item.key().starts_with("io.modelcontextprotocol/");
  });
}

// The nesting is measured by nlohmann's parser, not by the server's scan.
Json parsedWithin(std::string_view line, bool& deep) {
  return Json::parse(
      line,
      [&](int depth, Json::parse_event_t event, Json&) {
        const bool opens =
            event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
        if (opens && static_cast<size_t>(depth) + 1 > kMostLevels) deep = true;
        return !deep;  // what is discarded is not built: the tree stays shallow
      },
      /*allow_exceptions=*/false);
}

// `batches`: the session's revision answers a non-empty array as a batch.
Owed owed(std::string_view line, bool batches) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.find_first_not_of(" \t") == std::string_view::npos) return {};
  bool deep = false;
  const Json message = parsedWithin(line, deep);
  const bool nul = line.find('\0') != std::string_view::npos;
  if (nul || deep || message.is_discarded()) return {Owed::parseError, nullptr};
  if (batches && message.is_array() && !message.empty()) return {Owed::batch};
  if (!message.is_object()) return {Owed::error, nullptr};
  const auto id = message.find("id");
  const bool hasId = id != message.end();
  const bool integral = id != message.end() && id->is_number_float() &&
                        std::isfinite(id->get<double>()) &&
                        std::trunc(id->get<double>()) == id->get<double>();
  const bool validId = hasId && (id->is_string() || id->is_number_integer() || integral);
  const Json answerId = validId ? *id : Json();
  const auto version = message.find("jsonrpc");
  if (version == message.end() || *version != "2.0") return {Owed::error, answerId};
  const auto method = message.find("method");
  if (method == message.end()) {
    const bool answers = message.contains("result") || message.contains("error");
    return validId && answers ? Owed{} : Owed{Owed::error, answerId};
  }
  const auto params = message.find("params");
  if (!method->is_string() || (params != message.end() && !params->is_object())) {
    return {Owed::error, answerId};
  }
  if (!hasId) return {};  // a notification
  if (!validId) return {Owed::error, nullptr};
  Owed request{Owed::request, *id, method->get<std::string>()};
  request.stateless = stateless(message);
  return request;
}

// An answer as JSON-RPC has it: the version, the id, and a result or an error; an error whose id
// could not be read may have none.
void requireWellFormed(const Json& answer) {
  require(answer.is_object() && answer.size() == (answer.contains("id") ? 3u : 2u));
  require(answer.contains("id") || answer.contains("error"));
  require(answer.contains("jsonrpc") && answer["jsonrpc"] == "2.0");
  if (answer.contains("result")) {
    require(answer["result"].is_object());
  } else {
    const Json& error = answer.at("error");
    require(error.is_object() &&
            (error.size() == 2 || (error.size() == 3 && error.contains("data"))));
    require(error.at("code").is_number_integer() && error.at("message").is_string());
  }
}

Json wellFormed(const std::string& line) {
  Json answer = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  requireWellFormed(answer);
  return answer;
}

// A batch gets one array of answers, or nothing when it held no request.
void requireBatchAnswer(const std::string& line) {
  Json answers = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  require(answers.is_array() && !answers.empty());
  for (const auto& answer : answers) requireWellFormed(answer);
}

// An approval's card is bounded, and shows each character it holds: between its lines, only what
// a display draws, or a run of spaces written with its count.
void requireHonestCard(std::string_view rawArguments) {
  auto input = rawMember(rawArguments, "input");
  if (!input) input = rawMember(rawArguments, "tool_input");
  if (!input) return;
  ApprovalCard card = approvalCard("Bash", *input);
  require(vesk::codePointCount(card.question) <= kLongestQuestion);
  require(card.question.starts_with("Allow Bash: ") || card.problem);
  std::string_view question = card.question;
  for (size_t end = 0; !question.empty();
       question.remove_prefix(std::min(end + 1, question.size()))) {
    end = std::min(question.find('\n'), question.size());
    vesk::forEachVisiblePiece(question.substr(0, end), [](const vesk::VisiblePiece& piece) {
      require(piece.plain || piece.shown.starts_with("\\u{20}\xc3\x97"));
    });
  }
}

// A line's long texts, decoded apart (here every text past 8 bytes, the longest in the line's own
// storage), give the document nlohmann reads.
void requireSameDocument(std::string_view line) {
  if (line.find('\0') != std::string_view::npos || nestsTooDeep(line)) return;
  std::string owned(line);
  const Json apart = parseLineJson(
      owned, &owned, [](const Json&) { return LongestText::taken; }, 8);
  const Json whole = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  require(apart.is_discarded() == whole.is_discarded());
  require(apart.is_discarded() || apart == whole);
}

int code(const Json& answer) {
  return answer.contains("error") ? answer["error"]["code"].get<int>() : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t readSize = 1 + data[0];
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::vector<std::string> written;
  size_t calls = 0;
  bool open = false;     // initialize has been answered
  bool batches = false;  // in the revision it negotiated, which has batches
  bool nullIds = false;  // in the revision it negotiated, an unread id is null
  Server server(
      [&](const Tool& tool, const Json& arguments, std::string_view rawArguments, Revision,
          vesk::Cancellation&) {
        ++calls;
        // An approval's card and decision are made from the arguments' text as the client wrote
        // it, which must say what the parsed arguments say.
        if (isApproval(tool)) {
          // The server keeps no parsed copy of the input while a person decides: the text has it.
          Json read = Json::parse(rawArguments, nullptr, false);
          for (const char* member : {"input", "tool_input"}) {
            if (read.is_object() && read.contains(member)) read[member] = Json::object();
          }
          require(read == arguments || (rawArguments.empty() && arguments.empty()));
          requireHonestCard(rawArguments);
        }
        return Json::parse(R"({"content": [{"type": "text", "text": "stub"}]})");
      },
      [&](std::string_view message) {
        require(message.ends_with('\n') && message.find('\n') == message.size() - 1);
        written.emplace_back(message);
        return true;
      },
      Concurrency::sequential, kNoProgress);

  const LineSink sink = [&](std::optional<std::string_view> line, std::string*) {
    const size_t before = written.size();
    const size_t callsBefore = calls;
    if (line) {
      requireSameDocument(*line);
      server.handleLine(*line);
    } else {
      server.refuseLongLine(kLongestLine);
    }
    const Owed due = line ? owed(*line, batches) : Owed{Owed::parseError, nullptr};
    if (!open && !due.stateless) require(calls == callsBefore);
    if (due.kind == Owed::batch) {
      require(written.size() - before <= 1);
      if (written.size() > before) requireBatchAnswer(written.back());
      return;
    }
    require(written.size() - before == (due.kind == Owed::nothing ? 0 : 1));
    if (due.kind == Owed::nothing) return;

    Json answer = Json::parse(written.back(), nullptr, /*allow_exceptions=*/false);
    if (due.stateless && answer.value("method", "") == "notifications/subscriptions/acknowledged") {
      require(due.method == "subscriptions/listen");
      return;  // its answer comes when it ends
    }
    answer = wellFormed(written.back());
    if (due.id.is_null() && !nullIds) {
      require(!answer.contains("id"));
    } else {
      require(answer["id"] == due.id);
    }
    if (due.kind == Owed::parseError) require(code(answer) == kParseError);
    if (due.kind == Owed::error) require(answer.contains("error"));
    if (due.kind != Owed::request) return;
    if (due.stateless) {
      require(code(answer) != kServerNotInitialized);
      if (answer.contains("result")) {
        require(answer["result"]["resultType"] == "complete");
        require(answer["result"]["_meta"]["io.modelcontextprotocol/serverInfo"]["name"] ==
                "vesk-mcp");
      }
    } else if (due.method == "ping") {
      require(answer["result"] == Json::object());
    } else if (due.method == "initialize") {
      require(code(answer) == (open ? kInvalidRequest : 0) ||
              (!open && code(answer) == kInvalidParams));
      if (!open && code(answer) == 0) {
        const Json& version = answer["result"]["protocolVersion"];
        batches = version == "2025-03-26";
        nullIds = version != "2025-11-25";
        open = true;
      }
    } else if (!open) {
      require(code(answer) == kServerNotInitialized);
    }
  };

  LineReader reader(kLongestLine);
  for (size_t at = 0; at < input.size(); at += readSize) {
    reader.feed(input.substr(at, readSize), sink);
  }
  reader.end(sink);
  server.finish();
  return 0;
}
