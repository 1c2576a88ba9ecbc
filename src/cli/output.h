#pragma once

#include <string>
#include <string_view>

namespace vesk {

// The colour codes, and whether to use them. Colour is used exactly when standard output is a
// terminal, for the prefixes of standard-error lines too; nothing else switches it.
struct C {
  static bool isTTY();

  static constexpr std::string_view reset = "\x1b[0m";
  static constexpr std::string_view bold = "\x1b[1m";
  static constexpr std::string_view dim = "\x1b[2m";
  static constexpr std::string_view red = "\x1b[31m";
  static constexpr std::string_view green = "\x1b[32m";
  static constexpr std::string_view yellow = "\x1b[33m";
  static constexpr std::string_view cyan = "\x1b[36m";
};

// `text` wrapped in `code` and C::reset on a terminal, unchanged otherwise.
std::string paint(std::string_view text, std::string_view code);

// One line to standard output. A write that fails does not stop the run: the first failure's
// reason is kept for `flushOutput`.
void out(std::string_view text);
// Sends what standard output still holds and returns the reason (an errno value) of its first
// write that failed, or 0 when everything `out` wrote has gone out.
int flushOutput();
// One "warning: " line to standard error; the command goes on.
void warn(std::string_view text);
// One "error: " line to standard error, then exit status 1. What `out` printed before is kept.
[[noreturn]] void die(std::string_view text);

// Where `die` sends its message on the calling thread instead: a server's worker thread, whose
// failure ends one call and not the process. The handler must not return (vesk-mcp's throws to
// its call boundary); if it does, `die` goes on as above. Threads without one are unaffected.
using FailureHandler = void (*)(std::string_view message);
void setFailureHandler(FailureHandler handler);

// A success line: the green check mark followed by `phrase`, which begins with a space.
void succeed(std::string_view phrase);

// Text the app sent, as it may be written to standard output: exactly as received for a pipe or
// a file; on a terminal, controls and bytes that are not UTF-8 are shown as \xHH. Whatever holds
// the port answers vesk, and its answer must not drive the terminal. `warn` and `die` do the same
// for standard error, where a refused request's body appears.
std::string fromApp(std::string_view text);
// A line of standard output that is all the app's text; no copy of it unless on a terminal.
void outFromApp(std::string_view text);

}  // namespace vesk
