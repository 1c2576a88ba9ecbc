#pragma once

#include <span>
#include <string_view>

namespace vesk {

// The whole program: parse, validate the global options, run one command. Returns the exit
// status; `die` exits from deeper down. The words must outlive the run (the process's do).
int run(std::span<const std::string_view> argv);

}  // namespace vesk
