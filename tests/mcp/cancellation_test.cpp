#include <gtest/gtest.h>

#include "client/data_task.h"

namespace vesk {
namespace {

// A cancel that comes before the exchange has attached must still close it, or the call would
// wait out its whole timeout; one that comes after it has detached must not touch it.
TEST(CancellationTest, ClosesAnAttachedExchangeWhicheverComesFirst) {
  enum Step { attach, cancel, detach };
  const struct {
    std::vector<Step> steps;
    int closes;
  } cases[] = {
      {{attach, cancel, detach}, 1},
      {{cancel, attach, detach}, 1},
      {{attach, detach, cancel}, 0},
      {{attach, cancel, cancel, detach}, 1},
  };
  for (const auto& c : cases) {
    Cancellation cancellation;
    int closes = 0;
    for (Step step : c.steps) {
      if (step == attach) cancellation.attach([&] { ++closes; });
      if (step == cancel) cancellation.cancel();
      if (step == detach) cancellation.detach();
    }
    EXPECT_EQ(closes, c.closes) << "case " << (&c - cases);
    EXPECT_TRUE(cancellation.cancelled());
  }
}

}  // namespace
}  // namespace vesk
