#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "catalogue.h"
#include "options.h"
#include "recorder.h"
#include "reply.h"
#include "script.h"

// The app's side of each request, apart from the network: record it, then decide what to answer
// and when, taking scripted answers in the order the requests arrive.
namespace sim {

struct Plan {
  std::string method;
  std::string path;
  Reply reply;  // sent after `wait`, unless the person answers
  std::chrono::duration<double> wait{0};
  std::optional<Held> askPerson;  // set when the person at the terminal answers
  nlohmann::json body;            // the accepted body, for the card
  bool accepted = false;          // the app took it (no 4xx of its own, no --force)
  std::string refusal;            // why the app refused it (a 400 or a 503), for the record
};

// Why a request that came while the sim already held `limit` connections is refused.
std::string connectionsRefusal(size_t limit);

class App {
 public:
  App(const Options& options, Catalogue catalogue);

  void listeningOn(unsigned short port) { port_ = port; }
  const Catalogue& catalogue() const { return catalogue_; }

  // Judged, then recorded, refusal and all.
  Plan receive(std::string_view method, std::string_view target, std::string_view body);
  // The answer to a request that came while the sim already held `limit` connections: a 503
  // that says so, recorded as a refusal, never a reset that looks like a network fault.
  Plan refuse(std::string_view method, std::string_view target, std::string_view body,
              size_t limit);

 private:
  Plan judged(std::string_view method, std::string_view target, std::string_view body);

  const Options& options_;
  Script script_;
  Catalogue catalogue_;
  Recorder recorder_;
  unsigned short port_ = 0;
};

}  // namespace sim
