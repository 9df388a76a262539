#include "app/guarded_steps.h"

#include <new>

namespace shuffler {

GuardedSteps::Step& GuardedSteps::Slot(int step) {
  if (step >= static_cast<int>(steps_.size())) steps_.resize(step + 1);
  return steps_[static_cast<size_t>(step)];
}

GuardedSteps& GuardedSteps::Do(int step, Action action, int next) {
  Slot(step) = Step{std::move(action), nullptr, next, next};
  return *this;
}

GuardedSteps& GuardedSteps::If(int step, Test test, int when_true,
                               int when_false) {
  Slot(step) = Step{nullptr, std::move(test), when_true, when_false};
  return *this;
}

void GuardedSteps::Run(int first, const Handler& handler) const {
  for (int current = first; current != kEnd;) {
    const Step& step = steps_.at(static_cast<size_t>(current));
    // `next` is where the step goes when it succeeds and, for a test, when
    // the test holds; a failure goes there too.
    int next = step.next;
    try {
      if (step.test) {
        if (!step.test()) next = step.otherwise;
      } else {
        step.action();
      }
    } catch (const Failure& failure) {
      handler(failure);
    } catch (const std::bad_alloc&) {
      handler(MakeFailure(kOutOfMemory));
    }
    current = next;
  }
}

}  // namespace shuffler
