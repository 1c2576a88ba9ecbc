#pragma once

// vesk-mcp's server: MCP over standard input and output.
namespace vesk::mcp {

// Serves until end of input, the app's API on `port`; then cancels the calls in flight, waits
// for them and returns the exit status.
int serve(int port);

}  // namespace vesk::mcp
