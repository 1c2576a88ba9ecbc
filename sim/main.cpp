#include <csignal>
#include <string>
#include <vector>

#include "catalogue.h"
#include "options.h"
#include "server.h"

int main(int argc, char** argv) {
  // A client that hangs up mid-answer must cost one connection, not the process.
  std::signal(SIGPIPE, SIG_IGN);
  const sim::Options options = sim::parseOptions(std::vector<std::string>(argv, argv + argc));
  sim::Catalogue catalogue = options.charactersFile ? sim::loadCatalogue(*options.charactersFile)
                                                    : sim::builtInCatalogue();
  return sim::serve(options, std::move(catalogue));
}
