#include "cli/args.h"

#include <cstdint>
#include <cstdlib>

#include "cli/output.h"
#include "cli/unicode.h"

namespace vesk {
namespace {

// Prefixes and lengths count characters as a reader sees them, not bytes: "-é" is a two-character
// short flag, and "-" followed by a combining mark does not begin with a dash at all.
bool beginsWithDash(std::string_view word) {
  return firstCharacters(word, 1) == "-";
}

bool beginsWithTwoDashes(std::string_view word) {
  return beginsWithDash(word) && beginsWithDash(word.substr(1));
}

bool isDashCommandWord(std::string_view lowered) {
  return lowered == "--help" || lowered == "-h" || lowered == "--version" || lowered == "-v";
}

}  // namespace

Args::Args(std::span<const std::string_view> argv) {
  if (argv.size() < 2) return;
  const std::string_view first = argv[1];
  std::string firstLowered = lowercased(first);
  // A leading option that is not a command word shows the help; the rest of the line is ignored.
  if (beginsWithDash(first) && !isDashCommandWord(firstLowered)) return;
  command = std::move(firstLowered);

  for (size_t i = 2; i < argv.size();) {
    const std::string_view word = argv[i];
    bool hasNext = i + 1 < argv.size();
    if (beginsWithTwoDashes(word)) {
      std::string name = lowercased(word.substr(2));
      if (hasNext && !beginsWithTwoDashes(argv[i + 1])) {
        flags[name] = argv[i + 1];
        i += 2;
      } else {
        flags[name] = "true";
        i += 1;
      }
    } else if (beginsWithDash(word) && characterCount(word) == 2) {
      std::string name = lowercased(word.substr(1));
      if (hasNext && !beginsWithDash(argv[i + 1])) {
        flags[name] = argv[i + 1];
        i += 2;
      } else {
        flags[name] = "true";
        i += 1;
      }
    } else {
      positional.push_back(word);
      i += 1;
    }
  }
}

std::optional<std::string_view> Args::flag(std::string_view name) const {
  auto found = flags.find(lowercased(name));
  if (found == flags.end()) return std::nullopt;
  return found->second;
}

std::optional<int> parsePort(std::string_view text) {
  size_t at = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    at = 1;
  }
  if (at == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; at < text.size(); ++at) {
    char c = text[at];
    if (c < '0' || c > '9') return std::nullopt;
    if (value > (INT64_MAX - (c - '0')) / 10) return std::nullopt;  // would not fit 64 bits
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<double> parseTimeout(const std::string& text) {
  if (text.empty() || std::string_view(" \t\n\v\f\r").find(text[0]) != std::string_view::npos) {
    return std::nullopt;
  }
  // The program never calls setlocale, so strtod reads in the C locale: "0.5", never "0,5".
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return std::nullopt;
  if (!(value > 0)) return std::nullopt;  // zero, negatives and NaN
  return value;  // 1e999 overflows to infinity, which is a valid (endless-looking) timeout
}

int Args::port() const {
  auto value = flag("port");
  if (!value) value = flag("p");
  if (!value) return kDefaultPort;
  auto port = parsePort(*value);
  if (!port) die("invalid port: " + std::string(*value));
  return *port;
}

double Args::timeout() const {
  auto value = flag("timeout");
  if (!value) value = flag("t");
  if (!value) return kDefaultTimeoutSeconds;
  auto seconds = parseTimeout(std::string(*value));
  if (!seconds) die("invalid timeout: " + std::string(*value));
  return *seconds;
}

bool Args::jsonOutput() const {
  return flag("json") == "true";
}

std::optional<std::string_view> Args::message() const {
  if (positional.empty()) return std::nullopt;
  return positional.front();
}

}  // namespace vesk
