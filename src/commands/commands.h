#pragma once

#include "cli/args.h"
#include "client/vesk_client.h"

// One function per command; each returns on success and ends the run through `die` otherwise.
// They read the command line and print; the requests themselves are in commands/calls.h.
namespace vesk {

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
