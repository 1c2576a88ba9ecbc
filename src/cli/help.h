#pragma once

#include <string>

namespace vesk {

constexpr const char* kVersionLine = "vesk 2.0.0";

// The help text, painted for a terminal when standard output is one.
std::string helpText();
// Prints the help text.
void cmdHelp();

}  // namespace vesk
