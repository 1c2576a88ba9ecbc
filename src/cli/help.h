#pragma once

#include <string>

namespace vesk {

// VESK_VERSION is the project's version, given by the build.
constexpr const char* kVersionLine = "vesk " VESK_VERSION;

// The help text, painted for a terminal when standard output is one.
std::string helpText();
// Prints the help text.
void cmdHelp();

}  // namespace vesk
