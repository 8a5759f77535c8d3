// Threads that take a share of one job.
#include <gtest/gtest.h>

#include <cstddef>

#include "helper_thread.h"

#ifdef __linux__
#include <sched.h>
#endif

namespace {

// Helpers run their bodies, and on Linux with two processors or more start
// on one other than their creator's (as each thread saw before it was let
// go), then may run wherever their creator may.
TEST(HelperThread, StartsOnAnotherProcessorThenRunsAnywhere) {
  struct Seen {
    bool ran = false;
#ifdef __linux__
    cpu_set_t may_run_on;
#endif
  };
  Seen seen[3];
  const auto look_around = [](Seen& s) {
#ifdef __linux__
    CPU_ZERO(&s.may_run_on);
    sched_getaffinity(0, sizeof s.may_run_on, &s.may_run_on);
#endif
    s.ran = true;
  };
  struct Body {
    decltype(look_around)* look;
    Seen* seen;
    void operator()() const { (*look)(*seen); }
  } bodies[3] = {{&look_around, &seen[0]}, {&look_around, &seen[1]}, {&look_around, &seen[2]}};
  bmpresizer::HelperThread helpers[3];
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(helpers[i].start(bodies[i], i + 1));
  }
  for (bmpresizer::HelperThread& helper : helpers) {
    helper.join();
  }
#ifdef __linux__
  cpu_set_t allowed;
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(seen[i].ran) << "helper " << i + 1;
    if (CPU_COUNT(&allowed) >= 2) {
      EXPECT_GE(helpers[i].first_processor(), 0) << "helper " << i + 1;
      EXPECT_EQ(helpers[i].started_on(), helpers[i].first_processor()) << "helper " << i + 1;
    }
    EXPECT_TRUE(CPU_EQUAL(&seen[i].may_run_on, &allowed)) << "helper " << i + 1;
  }
#else
  for (const Seen& s : seen) {
    EXPECT_TRUE(s.ran);
  }
#endif
}

}  // namespace
