#pragma once

#include <string>

#include "cli/args.h"

namespace vesk::mcp {

// What vesk-mcp was started with, for every call it serves.
struct Settings {
  int port = kDefaultPort;
  // How long an approval waits for the user when the call gives no timeout: hosts send none.
  double approveTimeout = kDefaultTimeoutSeconds;
  // Refuses without asking an approval whose card cannot show the whole input.
  bool approveWhole = false;
  // Who asks for approvals, on their cards: the agent's project folder unless set.
  std::string agent;
  // How often a call that waits for a person tells a host that asked for progress that it still
  // waits, which keeps a host's timer from ending the call.
  double progressInterval = 10;
};

}  // namespace vesk::mcp
