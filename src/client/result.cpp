#include "client/result.h"

#include "cli/output.h"

namespace vesk {

void requireOK(const Response& response) {
  if (response.statusCode == 200) return;
  die("server returned " + std::to_string(response.statusCode) + ": " + response.body);
}

Response postAccepted(const VeskClient& client, std::string_view path, const JsonBody& body) {
  Response response = client.post(path, body);
  requireOK(response);
  return response;
}

bool printedRawJson(const Args& args, const Response& response) {
  if (!args.jsonOutput()) return false;
  outFromApp(response.body);
  return true;
}

void confirmAction(const Args& args, const Response& response, std::string_view phrase) {
  if (printedRawJson(args, response)) return;
  succeed(phrase);
}

}  // namespace vesk
