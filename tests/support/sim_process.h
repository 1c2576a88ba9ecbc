// Runs the built tarnel-sim in the background for one test, on a free port, and reads its output
// while it runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "run_vesk.h"

namespace vesk::test {

class SimProcess {
 public:
  enum class Await { listening, nothing };

  // Starts TARNEL_SIM_BINARY with "--port 0 --port-file F" and then `args` (so an explicit
  // --port wins), standard input a pipe the test writes to. With Await::listening, returns once
  // the port file exists (throws std::runtime_error if it does not come within 10 seconds).
  explicit SimProcess(const std::vector<std::string>& args, Await await = Await::listening);
  ~SimProcess();  // kills the sim if it still runs
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  unsigned short port() const { return port_; }
  // `args` followed by "--port <the sim's port>", for runVesk.
  std::vector<std::string> vesk(std::vector<std::string> args) const;

  void type(std::string_view text);  // onto the sim's standard input
  void closeInput();
  // Whether standard output contains `text` `times` times within `limit`.
  bool waitForOutput(std::string_view text, size_t times = 1,
                     std::chrono::seconds limit = std::chrono::seconds(10));

  // Waits up to `limit` for the sim to end by itself, killing it with SIGKILL after that.
  RunResult wait(std::chrono::seconds limit = std::chrono::seconds(10));
  // Sends `signal`, then waits as above.
  RunResult stop(int signal);

 private:
  void readOutputs(int outFd, int errFd);

  pid_t pid_ = -1;
  int input_ = -1;
  unsigned short port_ = 0;
  std::string portFile_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string out_, err_;
  bool outputsClosed_ = false;
  std::thread reader_;
};

}  // namespace vesk::test
