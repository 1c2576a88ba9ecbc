#include "recorder.h"

#include <ctime>

#include <nlohmann/json.hpp>

#include "diagnostics.h"
#include "nesting.h"

namespace sim {
namespace {

std::string utcTimestamp(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const std::time_t seconds = system_clock::to_time_t(time);
  const auto millis = duration_cast<milliseconds>(time.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(millis));
  return text;
}

}  // namespace

std::string recordLine(std::chrono::system_clock::time_point time, std::string_view method,
                       std::string_view target, std::string_view body, std::string_view refusal) {
  // Ordered, so the line reads in the order it was written and the body in the order it was sent.
  using Json = nlohmann::ordered_json;
  Json parsed = nullptr;
  // A body nested too deep to write out without recursing as deep stays null. One with a NUL is
  // kept as text: the reader would stop at the NUL and keep only what comes before it.
  if (!body.empty() && !nestsDeeperThan(body)) {
    const bool hasNul = body.find('\0') != std::string_view::npos;
    if (!hasNul) parsed = Json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (hasNul || parsed.is_discarded()) parsed = std::string(body);
  }
  Json line = {{"time", utcTimestamp(time)},
               {"method", std::string(method)},
               {"path", std::string(target)},
               {"body", std::move(parsed)}};
  if (!refusal.empty()) line["refused"] = std::string(refusal);
  return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Recorder::Recorder(const std::optional<std::string>& destination) {
  if (!destination) return;
  if (*destination == "-") {
    file_ = stdout;
    return;
  }
  file_ = std::fopen(destination->c_str(), "w");
  if (!file_) fail("cannot write the record to " + *destination);
  ownsFile_ = true;
}

Recorder::~Recorder() {
  if (ownsFile_) std::fclose(file_);
}

void Recorder::record(std::string_view method, std::string_view target, std::string_view body,
                      std::string_view refusal) {
  if (!file_) return;
  std::string line =
      recordLine(std::chrono::system_clock::now(), method, target, body, refusal) + "\n";
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

}  // namespace sim
