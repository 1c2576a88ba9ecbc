#include "cli/output.h"
#include "client/json_value.h"
#include "client/result.h"
#include "commands/commands.h"

namespace vesk {

void cmdHealth(const VeskClient& client, const Args& args) {
  Response response = client.get("/health", kQuickCheckTimeoutSeconds);
  if (response.statusCode != 200) {
    die("unexpected response (" + std::to_string(response.statusCode) +
        "): " + fromApp(response.body, Stream::err));
  }
  if (printedRawJson(args, response)) return;
  std::string port = fromApp(jsonValue(response.body, "port").value_or("?"), Stream::out);
  std::string games = fromApp(jsonValue(response.body, "games").value_or("[]"), Stream::out);
  out(paint("●", C::green) + " Tarnel is running on port " + paint(port, C::bold));
  out(paint("  games:", C::dim) + " " + games);
}

}  // namespace vesk
