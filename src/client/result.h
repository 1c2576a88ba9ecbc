#pragma once

#include <string_view>

#include "cli/args.h"
#include "client/vesk_client.h"

// How every command treats the app's answer: 200 alone is success, "--json" prints the body as
// it came, anything else is the command's own output.
namespace vesk {

// Ends the run with "server returned <status>: <body>" unless the status is 200.
void requireOK(const Response& response);

// Posts `body` to `path` and returns the answer, which the app accepted: any other status than
// 200 has ended the run.
Response postAccepted(const VeskClient& client, std::string_view path, const JsonBody& body = {});

// With "--json", prints the body unchanged and returns true: the command prints nothing more.
bool printedRawJson(const Args& args, const Response& response);

// All an action that only needs confirming does with its accepted answer: the raw body with
// "--json", else the success line with `phrase`.
void confirmAction(const Args& args, const Response& response, std::string_view phrase);

}  // namespace vesk
