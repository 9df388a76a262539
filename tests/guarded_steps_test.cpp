// The rule every guarded routine follows: report, then resume where the
// failing step would have gone.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "app/guarded_steps.h"

namespace shuffler {
namespace {

TEST(GuardedSteps, AFailureResumesWhereTheStepWouldHaveGone) {
  enum { kFirst, kTest, kWhenTrue, kWhenFalse, kLast };
  std::string ran;
  std::vector<int32_t> reported;
  bool fail_first = false, fail_test = false, test_result = false;
  GuardedSteps steps;
  steps
      .Do(kFirst,
          [&] {
            ran += "1";
            if (fail_first) throw std::bad_alloc();
          })
      .If(
          kTest,
          [&] {
            ran += "?";
            if (fail_test) Raise(kFileNotFound);
            return test_result;
          },
          kWhenTrue, kWhenFalse)
      .Do(
          kWhenTrue, [&] { ran += "T"; }, kLast)
      .Do(kWhenFalse, [&] { ran += "F"; })
      .Do(
          kLast, [&] { ran += "."; }, GuardedSteps::kEnd);
  auto run = [&] {
    ran.clear();
    reported.clear();
    steps.Run(kFirst, [&](const Failure& f) { reported.push_back(f.Number); });
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
  EXPECT_EQ(ran, "1?T.");
  EXPECT_EQ(reported, (std::vector<int32_t>{kOutOfMemory, kFileNotFound}));
}

TEST(GuardedSteps, WhatTheHandlerThrowsLeavesTheRoutine) {
  int after = 0;
  GuardedSteps steps;
  steps.Do(0, [] { Raise(kPathNotFound); })
      .Do(
          1, [&] { ++after; }, GuardedSteps::kEnd);
  try {
    steps.Run(0, [](const Failure&) { Raise(kBadFileNameOrNumber); });
    ADD_FAILURE() << "the handler's failure must leave Run";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.Number, kBadFileNameOrNumber);
  }
  EXPECT_EQ(after, 0);
}

}  // namespace
}  // namespace shuffler
