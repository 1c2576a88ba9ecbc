#include "reply.h"

#include <nlohmann/json.hpp>

namespace sim {

Reply errorReply(int status, const std::string& text) {
  return Reply(status, dumpJson({{"error", text}}));
}

std::string dumpJson(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace sim
