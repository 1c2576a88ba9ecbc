#include "cli/output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "cli/unicode.h"

namespace vesk {

bool C::isTTY() {
  // A function-local static is initialised once, safely even if two threads get here together.
  static const bool tty = isatty(STDOUT_FILENO) != 0;
  return tty;
}

std::string paint(std::string_view text, std::string_view code) {
  if (!C::isTTY()) return std::string(text);
  std::string painted;
  painted.reserve(code.size() + text.size() + C::reset.size());
  painted.append(code).append(text).append(C::reset);
  return painted;
}

namespace {

// The errno of the first write to standard output that failed; written and read by the one thread
// that prints results.
int outputFailure = 0;

void noteOutputFailure() {
  if (outputFailure == 0) outputFailure = errno != 0 ? errno : EIO;
}

thread_local FailureHandler failureHandler = nullptr;

bool stderrIsTerminal() {
  static const bool tty = isatty(STDERR_FILENO) != 0;
  return tty;
}

// The whole line goes out in one write, so lines of concurrent processes never interleave. A
// message may carry the app's text (the body of a refused request): on a terminal its controls
// are shown, not obeyed; the program's own messages hold none but line feeds.
void writeDiagnostic(std::string_view word, std::string_view text) {
  std::string line;
  line.reserve(word.size() + text.size() + 24);
  if (C::isTTY()) {
    line.append(word == "error:" ? C::red : C::yellow)
        .append(C::bold)
        .append(word)
        .append(C::reset);
  } else {
    line.append(word);
  }
  line.append(" ").append(stderrIsTerminal() ? withVisibleControls(text) : text).append("\n");
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to report that reporting failed
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace

void out(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
      std::fputc('\n', stdout) == EOF) {
    noteOutputFailure();
  }
}

int flushOutput() {
  if (std::fflush(stdout) == EOF) noteOutputFailure();
  return outputFailure;
}

void warn(std::string_view text) {
  writeDiagnostic("warning:", text);
}

void die(std::string_view text) {
  if (failureHandler) failureHandler(text);
  writeDiagnostic("error:", text);
  std::exit(1);  // flushes standard output
}

void setFailureHandler(FailureHandler handler) {
  failureHandler = handler;
}

void succeed(std::string_view phrase) {
  out(paint("✓", C::green).append(phrase));
}

std::string fromApp(std::string_view text) {
  return C::isTTY() ? withVisibleControls(text) : std::string(text);
}

void outFromApp(std::string_view text) {
  if (!C::isTTY()) return out(text);
  out(withVisibleControls(text));
}

}  // namespace vesk
