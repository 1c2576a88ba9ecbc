#pragma once

#include <span>
#include <string_view>

namespace vesk {

// The whole program: reserve the standard descriptors, parse, validate the global options, run
// one command, see its output out. Returns the exit status; `die` exits from deeper down. The
// words must outlive the run (the process's do).
int run(std::span<const std::string_view> argv);

}  // namespace vesk
