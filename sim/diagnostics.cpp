#include "diagnostics.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace sim {
namespace {

void writeLine(std::string_view prefix, std::string_view text) {
  std::string line = "tarnel-sim: ";
  line.append(prefix).append(text).append("\n");
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere left to say it
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace

void note(std::string_view text) {
  writeLine("", text);
}

void fail(std::string_view text) {
  writeLine("error: ", text);
  std::exit(1);
}

}  // namespace sim
