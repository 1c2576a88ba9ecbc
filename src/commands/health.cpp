#include "cli/output.h"
#include "client/json_value.h"
#include "client/result.h"
#include "commands/commands.h"

namespace vesk {

void cmdHealth(const VeskClient& client, const Args& args) {
  Response response = client.get("/health", kQuickCheckTimeoutSeconds);
  if (response.statusCode != 200) {
    die("unexpected response (" + std::to_string(response.statusCode) + "): " + response.body);
  }
  if (printedRawJson(args, response)) return;
  std::string port = jsonValue(response.body, "port").value_or("?");
  std::string games = jsonValue(response.body, "games").value_or("[]");
  out(paint("●", C::green) + " Tarnel is running on port " + paint(port, C::bold));
  out(paint("  games:", C::dim) + " " + games);
}

}  // namespace vesk
