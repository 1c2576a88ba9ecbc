#include <csignal>
#include <string_view>
#include <vector>

#ifdef __GLIBC__  // known once a C library header is in
#include <malloc.h>
#endif

#include "app/entry.h"

int main(int argc, char** argv) {
  // A reader that goes away (a closed pipe, a server that hangs up) must never end the process
  // by a signal: the write fails with EPIPE instead, and the exit status stays 0 or 1.
  std::signal(SIGPIPE, SIG_IGN);
#ifdef __GLIBC__
  // The transport's thread allocates while the main thread only waits: one malloc arena is
  // enough, and saves that thread mapping one of its own (about a tenth of a run's wall time).
  mallopt(M_ARENA_MAX, 1);
#endif
  // Views, not copies: a card's image may be a megabyte of the command line.
  const std::vector<std::string_view> words(argv, argv + argc);
  return vesk::run(words);
}
