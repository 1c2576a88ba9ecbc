#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "reply.h"
#include "script.h"

// The sim's command line.
namespace sim {

struct Options {
  unsigned short port = 47037;  // 0: a free port, chosen by the system
  std::optional<std::string> portFile;
  Script script;
  std::map<std::string, double, std::less<>> delays;  // seconds, by path
  std::map<std::string, Reply, std::less<>> forced;   // by path
  std::optional<std::string> charactersFile;
  std::optional<std::string> record;  // "-" for standard output
  bool interactive = false;
  bool quiet = false;
  std::optional<std::uint64_t> maxRequests;
  size_t maxConnections = 4096;  // held at once; beyond them a request gets a 503
};

// Prints the help or the version and exits 0 when asked; ends the run with a message naming the
// option on any mistake.
Options parseOptions(const std::vector<std::string>& argv);

}  // namespace sim
