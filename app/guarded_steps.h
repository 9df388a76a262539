// A routine written as a list of steps under one failure handler.
//
// When a step fails, the handler reports the failure and the routine resumes
// with the step that would have run next had the failing step succeeded. For
// a test that fails, that is the branch taken when the test holds. Running
// out of memory is a failure like any other. What the handler itself throws
// leaves the routine, to be handled by its caller.
#pragma once

#include <functional>
#include <vector>

#include "platform/platform.h"

namespace shuffler {

class GuardedSteps {
 public:
  /// The step number that ends the routine.
  static constexpr int kEnd = -1;

  using Action = std::function<void()>;
  using Test = std::function<bool()>;
  using Handler = std::function<void(const Failure&)>;

  /// Step `step` runs `action` and goes on with `next`.
  GuardedSteps& Do(int step, Action action, int next);
  /// Step `step` runs `action` and goes on with the step numbered after it.
  GuardedSteps& Do(int step, Action action) {
    return Do(step, std::move(action), step + 1);
  }
  /// Step `step` goes on with `when_true` when `test` holds and with
  /// `when_false` otherwise.
  GuardedSteps& If(int step, Test test, int when_true, int when_false);

  /// Runs the steps from `first` until one goes on with `kEnd`.
  void Run(int first, const Handler& handler) const;

 private:
  struct Step {
    Action action;
    Test test;
    int next = kEnd;
    int otherwise = kEnd;
  };
  Step& Slot(int step);

  std::vector<Step> steps_;
};

}  // namespace shuffler
