// Runs the built vesk binary as a child process and captures everything it produced.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vesk::test {

enum class Stdout {
  pipe,      // standard output is a pipe, as when vesk's output is redirected
  terminal,  // standard output is a pseudo-terminal in raw mode, as when a person watches it
};

struct RunResult {
  int exitCode = -1;      // -1 when the process ended by a signal
  int signal = 0;         // the signal that ended it, 0 otherwise
  std::string out;        // standard output, byte for byte
  std::string err;        // standard error, byte for byte
  long peakMemoryKb = 0;  // runVeskMeasuringMemory only: vesk's largest resident set
};

// Runs VESK_BINARY with `args` (raw bytes, passed as they are; they cannot contain NUL), standard
// input from /dev/null and the parent's environment. A run still going after `limit` is killed
// with SIGKILL, so it reports signal 9 rather than hanging the test. Throws std::system_error
// when the process cannot be started.
RunResult runVesk(const std::vector<std::string>& args, Stdout mode = Stdout::pipe,
                  std::chrono::seconds limit = std::chrono::seconds(30));

// The same, through a small launcher that reports vesk's peak resident memory. Measuring a
// direct child would not do: on Linux a child inherits its parent's high-water mark at exec,
// and a test that holds a large answer is a large parent.
RunResult runVeskMeasuringMemory(const std::vector<std::string>& args);

// Starts `path` with `args`: standard input from `stdinFd` (-1 for /dev/null), the outputs to the
// given descriptors, no other descriptor inherited and signals at their defaults. Returns its pid;
// throws std::system_error when it cannot be started.
pid_t spawnProgram(const std::string& path, const std::vector<std::string>& args, int stdinFd,
                   int stdoutFd, int stderrFd);

}  // namespace vesk::test
