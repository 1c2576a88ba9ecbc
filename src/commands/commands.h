#pragma once

#include "cli/args.h"
#include "client/vesk_client.h"

// One function per command; each returns on success and ends the run through `die` otherwise.
namespace vesk {

// health and characters are quick checks with a fixed limit, whatever "--timeout" says.
constexpr double kQuickCheckTimeoutSeconds = 5.0;

void cmdNotify(const VeskClient& client, const Args& args);
void cmdAsk(const VeskClient& client, const Args& args);
void cmdListen(const VeskClient& client, const Args& args);
void cmdSay(const VeskClient& client, const Args& args);
void cmdGame(const VeskClient& client, const Args& args);
void cmdHealth(const VeskClient& client, const Args& args);
void cmdCollapse(const VeskClient& client, const Args& args);
void cmdClear(const VeskClient& client, const Args& args);
void cmdCharacters(const VeskClient& client, const Args& args);

}  // namespace vesk
