// The one failure handler of a routine, and the rule it keeps.
//
// A guarded routine runs each of its steps through its guard:
//
//   if (g.Test([&] { return HasOption(u"/DEBUG"); })) g.Do([&] { ... });
//   while (g.Test([&] { return Done < FileCount; })) { ... }
//
// When a step fails, the handler reports the failure and the routine goes on
// with the step that would have run next had the failing one succeeded: the
// next statement. A test that fails counts as holding, so the routine goes on
// in the branch taken when the test holds, and after a loop's body comes the
// loop's test again. Running out of memory is a failure like any other. What
// the handler itself throws leaves the routine, for its caller to handle.
#pragma once

#include <functional>
#include <new>
#include <utility>

#include "base/failure.h"

namespace shuffler {

class Guard {
 public:
  using Handler = std::function<void(const Failure&)>;

  explicit Guard(Handler handler) : handler_(std::move(handler)) {}

  /// Runs one step and returns whether it completed; a failure is handed to
  /// the handler.
  template <typename Action>
  bool Do(Action&& action) {
    try {
      std::forward<Action>(action)();
      return true;
    } catch (const Failure& failure) {
      handler_(failure);
    } catch (const std::bad_alloc&) {
      handler_(MakeFailure(kOutOfMemory));
    }
    return false;
  }

  /// Hands `failure` to the handler, as the failure of a step of its own:
  /// for a failure that was held back until it could be told.
  void Report(const Failure& failure) { handler_(failure); }

  /// Runs one test and returns whether it holds. A test that fails is
  /// handed to the handler and counts as holding.
  template <typename Condition>
  bool Test(Condition&& condition) {
    try {
      return std::forward<Condition>(condition)();
    } catch (const Failure& failure) {
      handler_(failure);
    } catch (const std::bad_alloc&) {
      handler_(MakeFailure(kOutOfMemory));
    }
    return true;
  }

 private:
  Handler handler_;
};

}  // namespace shuffler
