#include "client/result.h"
#include "commands/calls.h"
#include "commands/commands.h"

namespace vesk {

Response collapseCard(const VeskClient& client) {
  return postAccepted(client, "/collapse");
}

Response clearState(const VeskClient& client) {
  return postAccepted(client, "/clear");
}

void cmdCollapse(const VeskClient& client, const Args& args) {
  confirmAction(args, collapseCard(client), " card collapsed");
}

void cmdClear(const VeskClient& client, const Args& args) {
  confirmAction(args, clearState(client), " state cleared");
}

}  // namespace vesk
