#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

// The record of what the sim was sent, for a CI job to assert on: one JSON object per line.
namespace sim {

// {"time":"2025-01-31T12:00:00.123Z","method":"POST","path":"/overlay","body":{...}}. The body
// is the parsed JSON when it parses, else the text as sent, or null when there was none or when it
// nests deeper than the sim takes. A request the sim refused ends with "refused": why.
std::string recordLine(std::chrono::system_clock::time_point time, std::string_view method,
                       std::string_view target, std::string_view body,
                       std::string_view refusal = {});

class Recorder {
 public:
  // "-" is standard output; nothing records nowhere. A file is truncated, and a file that
  // cannot be opened ends the run.
  explicit Recorder(const std::optional<std::string>& destination);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Written and flushed at once, so a job can read the record while the sim runs.
  void record(std::string_view method, std::string_view target, std::string_view body,
              std::string_view refusal = {});

 private:
  std::FILE* file_ = nullptr;
  bool ownsFile_ = false;
};

}  // namespace sim
