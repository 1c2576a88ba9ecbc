#include "client/result.h"
#include "commands/calls.h"
#include "commands/commands.h"

namespace vesk {
namespace {

Response postEmpty(const VeskClient& client, std::string_view path) {
  Response response = client.post(path);
  requireOK(response);
  return response;
}

}  // namespace

Response collapseCard(const VeskClient& client) {
  return postEmpty(client, "/collapse");
}

Response clearState(const VeskClient& client) {
  return postEmpty(client, "/clear");
}

void cmdCollapse(const VeskClient& client, const Args& args) {
  confirmAction(args, collapseCard(client), " card collapsed");
}

void cmdClear(const VeskClient& client, const Args& args) {
  confirmAction(args, clearState(client), " state cleared");
}

}  // namespace vesk
