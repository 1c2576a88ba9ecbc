#pragma once

#include <optional>
#include <string_view>
#include <vector>

// The protocol revisions vesk-mcp speaks, and what each one changes in what the server sends.
namespace vesk::mcp {

// Oldest first, so that a later revision compares greater. The first four open a session with
// initialize; 2026-07-28 has none, and each of its requests names it.
enum class Revision { r2024_11_05, r2025_03_26, r2025_06_18, r2025_11_25, r2026_07_28 };

// What a client gets from initialize when it asks for a revision the server does not know.
constexpr Revision kNewestRevision = Revision::r2025_11_25;

// The revision a client asked for by its date, or nothing when the server does not speak it.
std::optional<Revision> revisionNamed(std::string_view date);
std::string_view dateOf(Revision revision);
// Every revision the server speaks, newest first, as server/discover lists them.
std::vector<std::string_view> allDates();

// 2026-07-28 keeps no session: each request carries its revision and the client's capabilities,
// and each result says it is complete and names the server.
constexpr bool isStateless(Revision r) {
  return r >= Revision::r2026_07_28;
}
// An answer to a request whose id could not be read has id null up to 2025-06-18; from
// 2025-11-25 on it has no id, as a null id is no id at all.
constexpr bool hasNullIds(Revision r) {
  return r < Revision::r2025_11_25;
}

// Tool annotations (readOnlyHint and the others) came with 2025-03-26.
constexpr bool hasAnnotations(Revision r) {
  return r >= Revision::r2025_03_26;
}
// A tool's title, its output schema and a result's structured content came with 2025-06-18;
// before, a title went into the annotations.
constexpr bool hasTitlesAndStructuredContent(Revision r) {
  return r >= Revision::r2025_06_18;
}
// 2025-11-25 answers arguments that break a tool's schema with a tool error, which the model
// reads and can correct; before, with the protocol error -32602, which only the host sees.
constexpr bool argumentErrorsAreToolErrors(Revision r) {
  return r >= Revision::r2025_11_25;
}
// JSON-RPC batches came with 2025-03-26 and went with 2025-06-18.
constexpr bool hasBatches(Revision r) {
  return r == Revision::r2025_03_26;
}
// A progress notification's message came with 2025-03-26.
constexpr bool hasProgressMessages(Revision r) {
  return r >= Revision::r2025_03_26;
}

}  // namespace vesk::mcp
