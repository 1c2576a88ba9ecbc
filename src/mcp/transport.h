#pragma once

#include <cstddef>

#include "mcp/settings.h"

// vesk-mcp on standard input and output: MCP's stdio transport.
namespace vesk::mcp {

// The longest line read, in bytes: room for a card with an image of megabytes in Base64. A longer
// line is answered with a parse error and dropped as it streams in.
constexpr size_t kLongestLine = size_t{64} << 20;

// Serves the client on standard input and output, the app's API on the settings' port, until end
// of input; then lets the calls that wait for no person end, cancels the others, and returns 0.
// A protocol message that cannot be written ends it with one line on standard error and status 1,
// except once input has ended, when a host that has gone away is nobody's failure.
int serve(const Settings& settings);

}  // namespace vesk::mcp
