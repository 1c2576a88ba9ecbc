#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

constexpr int kDefaultPort = 47037;
constexpr double kDefaultTimeoutSeconds = 300.0;

// The parsed command line: a command word, positional words and flags. Forgiving by design:
// unknown and repeated flags and stray words are kept, never errors. Positional words and flag
// values are views of the words parsed, which must outlive the Args: the process's arguments do,
// and a card's megabyte of image then goes to the app without ever being copied.
struct Args {
  std::string command = "help";              // lower-cased
  std::vector<std::string_view> positional;  // exactly as typed
  std::map<std::string, std::string_view>
      flags;  // lower-cased name to value as typed, "true" if none

  Args() = default;
  // `argv` is the whole process argument list, program name first.
  explicit Args(std::span<const std::string_view> argv);

  // The value of a flag, looked up without regard to case; "true" for a flag given without one.
  std::optional<std::string_view> flag(std::string_view name) const;

  int port() const;        // dies with "invalid port: " on a bad value
  double timeout() const;  // dies with "invalid timeout: " on a bad value
  bool jsonOutput() const;
  std::optional<std::string_view> message() const;
};

// Reads a port value: optional sign, decimal digits, 1 to 65535. Nothing when unusable.
std::optional<int> parsePort(std::string_view text);
// Reads a timeout value in seconds the way strtod does in the C locale; greater than zero.
std::optional<double> parseTimeout(const std::string& text);

}  // namespace vesk
