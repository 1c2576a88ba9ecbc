// The argument parser on any command line: words are the input split at NUL bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/args.h"
#include "cli/unicode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> argv{"vesk"};
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      argv.push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  argv.push_back(word);

  const std::vector<std::string_view> words(argv.begin(), argv.end());
  const vesk::Args args(words);
  // Names and the command word are lower-cased once and for all: lower-casing again changes
  // nothing, and every lookup finds what was stored.
  if (vesk::lowercased(args.command) != args.command) std::abort();
  for (const auto& [name, value] : args.flags) {
    if (vesk::lowercased(name) != name) std::abort();
    if (args.flag(name) != value) std::abort();
  }
  // Positional words come through untouched, in order.
  size_t next = 2;
  for (const auto& positional : args.positional) {
    while (next < argv.size() && argv[next] != positional) ++next;
    if (next++ >= argv.size()) std::abort();
  }
  for (const auto& w : argv) {
    if (auto port = vesk::parsePort(w); port && (*port < 1 || *port > 65535)) std::abort();
    if (auto timeout = vesk::parseTimeout(w); timeout && !(*timeout > 0)) std::abort();
  }
  return 0;
}
