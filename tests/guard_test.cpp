// The rule every guarded routine follows: report, then go on where the
// failing step would have gone.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "base/guard.h"

namespace shuffler {
namespace {

TEST(Guard, AFailureGoesOnWhereTheStepWouldHaveGone) {
  std::string ran;
  std::vector<int32_t> reported;
  bool fail_first = false, fail_test = false, test_result = false;
  auto run = [&] {
    ran.clear();
    reported.clear();
    Guard g([&](const Failure& f) { reported.push_back(f.Number); });
    if (!g.Do([&] {
          ran += "1";
          if (fail_first) throw std::bad_alloc();
        })) {
      ran += "!";  // the step did not complete
    }
    if (g.Test([&] {
          ran += "?";
          if (fail_test) Raise(kFileNotFound);
          return test_result;
        })) {
      g.Do([&] { ran += "T"; });
    } else {
      g.Do([&] { ran += "F"; });
    }
    g.Do([&] { ran += "."; });
  };

  run();
  EXPECT_EQ(ran, "1?F.");
  test_result = true;
  run();
  EXPECT_EQ(ran, "1?T.");
  // A failing test takes the branch for "holds"; running out of memory is
  // reported like any failure, and the next step runs.
  test_result = false;
  fail_test = fail_first = true;
  run();
  EXPECT_EQ(ran, "1!?T.");
  EXPECT_EQ(reported, (std::vector<int32_t>{kOutOfMemory, kFileNotFound}));
}

TEST(Guard, WhatTheHandlerThrowsLeavesTheRoutine) {
  int after = 0;
  try {
    Guard g([](const Failure&) { Raise(kBadFileNameOrNumber); });
    g.Do([] { Raise(kPathNotFound); });
    g.Do([&] { ++after; });
    ADD_FAILURE() << "the handler's failure must leave the routine";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.Number, kBadFileNameOrNumber);
  }
  EXPECT_EQ(after, 0);
}

}  // namespace
}  // namespace shuffler
