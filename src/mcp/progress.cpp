#include "mcp/progress.h"

#include <algorithm>

#include "mcp/jsonrpc.h"

namespace vesk::mcp {

using Json = nlohmann::json;

ProgressReporter::ProgressReporter(double interval, Writer write)
    : interval_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(std::min(interval, 1e9)))),
      write_(std::move(write)) {}

ProgressReporter::~ProgressReporter() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ProgressReporter::start(const std::string& key, const Json& token, bool message) {
  std::lock_guard lock(mutex_);
  calls_.insert_or_assign(key, Waiting{token, message, Clock::now() + interval_});
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  changed_.notify_all();
}

void ProgressReporter::stop(const std::string& key) {
  std::lock_guard lock(mutex_);
  calls_.erase(key);
}

void ProgressReporter::run() {
  std::unique_lock lock(mutex_);
  while (!ending_) {
    auto due = Clock::time_point::max();
    for (const auto& [key, call] : calls_) due = std::min(due, call.due);
    if (due == Clock::time_point::max()) {
      changed_.wait(lock);
      continue;
    }
    if (changed_.wait_until(lock, due) == std::cv_status::no_timeout) continue;
    // The gate before the calls, in the order hold() and then stop() take them; what is due is
    // read again once both are held, as a stop may have come between.
    lock.unlock();
    const std::lock_guard gate(gate_);
    lock.lock();
    const auto now = Clock::now();
    for (auto& [key, call] : calls_) {
      if (call.due > now) continue;
      // Kept on the call's own beat; after a write that blocked for longer than an interval,
      // the missed beats are skipped rather than sent in a burst.
      call.due += interval_;
      if (call.due <= now) call.due = now + interval_;
      Json params = {{"progressToken", call.token}, {"progress", ++call.sent}};
      if (call.message) params["message"] = "waiting for the user in the notch";
      write_(lineOf(notificationMessage("notifications/progress", params)));
    }
  }
}

}  // namespace vesk::mcp
