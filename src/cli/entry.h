#pragma once

#include <string>
#include <vector>

namespace vesk {

// The whole program: parse, validate the global options, run one command. Returns the exit
// status; `die` exits from deeper down.
int run(const std::vector<std::string>& argv);

}  // namespace vesk
