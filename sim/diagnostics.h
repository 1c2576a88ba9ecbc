#pragma once

#include <string_view>

// The sim's own lines on standard error. Each goes out in one write, so they never interleave
// with the lines of the programs under test that share the terminal or the CI log.
namespace sim {

// "tarnel-sim: <text>"
void note(std::string_view text);
// "tarnel-sim: error: <text>", then exit status 1.
[[noreturn]] void fail(std::string_view text);

}  // namespace sim
