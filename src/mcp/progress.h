#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

// Progress for the calls that wait for a person: a host stops a call after its own timer runs
// out (often a minute), and one that restarts its timer on progress waits as long as the person
// takes.
namespace vesk::mcp {

class ProgressReporter {
 public:
  using Writer = std::function<void(std::string line)>;

  // `write` sends one protocol line; `interval` is in seconds.
  ProgressReporter(double interval, Writer write);
  ~ProgressReporter();  // ends the reporting thread
  ProgressReporter(const ProgressReporter&) = delete;
  ProgressReporter& operator=(const ProgressReporter&) = delete;

  // The call `key` began and asked for progress under `token`: its first notification comes
  // one interval from now. `message` adds the revision's text to each.
  void start(const std::string& key, const nlohmann::json& token, bool message);
  // The call `key` ended or was cancelled: once this returns, no progress for it is written.
  void stop(const std::string& key);

  // No notification starts while the returned lock is held.
  std::unique_lock<std::mutex> hold() { return std::unique_lock(gate_); }

 private:
  using Clock = std::chrono::steady_clock;
  struct Waiting {
    nlohmann::json token;
    bool message;
    Clock::time_point due;  // of the next notification
    int sent = 0;
  };
  void run();

  const Clock::duration interval_;
  const Writer write_;
  std::mutex gate_;   // taken before mutex_ to write, and held by hold()
  std::mutex mutex_;  // held while a notification is written, so that `stop` waits for it
  std::condition_variable changed_;
  std::map<std::string, Waiting> calls_;
  bool ending_ = false;
  std::thread thread_;  // started with the first call that asks for progress
};

}  // namespace vesk::mcp
