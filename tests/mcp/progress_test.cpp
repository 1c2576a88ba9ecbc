#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mcp/progress.h"

namespace vesk::mcp {
namespace {

using namespace std::chrono_literals;

// The input's thread holds the reporter from a read until the read's lines are handled: a call
// cancelled by one of them gets no progress, though its beat came while the lines were read.
TEST(ProgressReporterTest, WritesNothingWhileHeldNorForACallStoppedMeanwhile) {
  std::mutex mutex;
  std::vector<std::string> lines;
  ProgressReporter progress(0.01, [&](std::string line) {
    std::lock_guard lock(mutex);
    lines.push_back(std::move(line));
  });
  const auto written = [&] {
    std::lock_guard lock(mutex);
    return lines;
  };
  {
    const auto held = progress.hold();
    progress.start("cancelled", "c", false);
    progress.start("waiting", "w", false);
    std::this_thread::sleep_for(100ms);  // ten beats of each
    EXPECT_EQ(written().size(), 0u);
    progress.stop("cancelled");
  }
  for (int i = 0; i < 500 && written().empty(); ++i) std::this_thread::sleep_for(10ms);
  progress.stop("waiting");
  ASSERT_FALSE(written().empty());
  for (const auto& line : written()) {
    EXPECT_NE(line.find(R"("progressToken":"w")"), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace vesk::mcp
