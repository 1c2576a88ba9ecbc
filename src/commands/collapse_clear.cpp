#include <nlohmann/json.hpp>

#include "client/result.h"
#include "commands/commands.h"

namespace vesk {

void cmdCollapse(const VeskClient& client, const Args& args) {
  confirmAction(args, client.post("/collapse", nlohmann::json::object()), " card collapsed");
}

void cmdClear(const VeskClient& client, const Args& args) {
  confirmAction(args, client.post("/clear", nlohmann::json::object()), " state cleared");
}

}  // namespace vesk
