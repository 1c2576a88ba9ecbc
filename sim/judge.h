#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "catalogue.h"
#include "reply.h"
#include "script.h"

// What the app makes of a request before anyone looks at it: the path and method it serves, the
// body it accepts, and the answers that need no user.
namespace sim {

struct AppFacts {
  unsigned short port = 0;
  const Catalogue* catalogue = nullptr;
};

struct Verdict {
  Reply reply;               // the answer, unless `held` is set
  std::optional<Held> held;  // a request that waits for the user
  nlohmann::json body;       // the accepted body (null for a GET)
  std::string refusal;       // why the body was refused with a 400; empty otherwise
  bool accepted() const { return held.has_value() || reply.status == 200; }
};

// A request target without its query.
std::string_view pathOf(std::string_view target);

Verdict judge(std::string_view method, std::string_view path, std::string_view body,
              const AppFacts& app);

}  // namespace sim
