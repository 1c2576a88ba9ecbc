#include <nlohmann/json.hpp>

#include "cli/output.h"
#include "client/result.h"
#include "commands/commands.h"

namespace vesk {
namespace {

void postEmptyAndConfirm(const VeskClient& client, const Args& args, std::string_view path,
                         std::string_view phrase) {
  Response response = client.post(path, nlohmann::json::object());
  requireOK(response);
  if (printedRawJson(args, response)) return;
  succeed(phrase);
}

}  // namespace

void cmdCollapse(const VeskClient& client, const Args& args) {
  postEmptyAndConfirm(client, args, "/collapse", " card collapsed");
}

void cmdClear(const VeskClient& client, const Args& args) {
  postEmptyAndConfirm(client, args, "/clear", " state cleared");
}

}  // namespace vesk
