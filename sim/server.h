#pragma once

#include "catalogue.h"
#include "options.h"

namespace sim {

// Listens on 127.0.0.1 and serves until SIGINT, SIGTERM or SIGHUP, or until --max-requests
// requests have been answered; returns the exit status (0). Ends the run with a message when the
// port cannot be had.
int serve(const Options& options, Catalogue catalogue);

}  // namespace sim
