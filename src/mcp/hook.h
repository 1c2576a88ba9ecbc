#pragma once

#include "mcp/settings.h"

// vesk-mcp --hook: an agent host's PermissionRequest hook, for interactive sessions. The host
// runs it as a permission dialog is about to open, with the request as JSON on standard input;
// the user decides on the same card as the approve tool's.
namespace vesk::mcp {

// Prints the host's decision on standard output for Allow, Deny or another answer. A dismissal,
// no app, a time-out, an input it cannot read or any other failure prints nothing, which leaves
// the host's own dialog to ask: nothing runs without a person, and nothing is lost while they are
// away from the notch. SIGTERM, SIGINT or SIGHUP (the host's time-out, the user answering in the
// terminal) withdraw the card. Returns 0, or 1 when the decision cannot be written; never 2, which
// a host may read as a refusal.
int runPermissionHook(const Settings& settings);

}  // namespace vesk::mcp
