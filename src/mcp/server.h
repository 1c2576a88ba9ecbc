#pragma once

#include "mcp/settings.h"

// vesk-mcp's server: MCP over standard input and output.
namespace vesk::mcp {

// Serves until end of input, the app's API on the settings' port; then cancels the calls in
// flight, waits for them and returns the exit status.
int serve(const Settings& settings);

}  // namespace vesk::mcp
