#pragma once

#include "cli/args.h"
#include "client/vesk_client.h"

// One function per command; each returns on success and ends the run through `die` otherwise.
namespace vesk {

// health and characters are quick checks with a fixed limit, whatever "--timeout" says.
constexpr double kQuickCheckTimeoutSeconds = 5.0;

void cmdHealth(const VeskClient& client, const Args& args);

}  // namespace vesk
