#include "tests/platform_wrapper.h"

namespace shuffler::testing {

static_assert(!std::is_abstract_v<PlatformWrapper>,
              "PlatformWrapper must forward every operation of Platform");

namespace {

// A mover whose moves run through the wrapper that made it.
class WrappedMover : public FileMover {
 public:
  WrappedMover(std::unique_ptr<FileMover> mover,
               std::function<void(Call&, const std::function<void()>&)> around)
      : mover_(std::move(mover)), around_(std::move(around)) {}
  void Move(const Text& source, const Text& destination) override {
    Call call(Op::kMoveFile, source, destination);
    around_(call, [&] { mover_->Move(source, destination); });
  }
  void MoveKnownFile(const Text& source, const Text& destination) override {
    Call call(Op::kMoveFile, source, destination);
    around_(call, [&] { mover_->MoveKnownFile(source, destination); });
  }

 private:
  std::unique_ptr<FileMover> mover_;
  std::function<void(Call&, const std::function<void()>&)> around_;
};

}  // namespace

const char* OpName(Op op) {
  static const char* const kNames[] = {
#define SHUFFLER_OP(name) #name
      SHUFFLER_FALLIBLE_OPS(SHUFFLER_OP)};
#undef SHUFFLER_OP
  const auto index = static_cast<size_t>(op);
  return index < std::size(kNames) ? kNames[index] : "?";
}

std::unique_ptr<FileMover> PlatformWrapper::CreateFileMover() {
  std::unique_ptr<FileMover> mover;
  Call call(Op::kCreateFileMover);
  Around(call, [&] {
    mover = std::make_unique<WrappedMover>(
        target_.CreateFileMover(),
        [this](Call& move, const std::function<void()>& operation) {
          Around(move, operation);
        });
  });
  return mover;
}

void FaultInjection::FailCall(Op op, int nth, int32_t number) {
  injections_.push_back({op, nth, false, false, number});
}

void FaultInjection::FailFrom(Op op, int nth, int32_t number) {
  injections_.push_back({op, nth, true, false, number});
}

void FaultInjection::FailOverallCall(int k, int32_t number) {
  injections_.push_back({Op::kArgumentText, k, false, true, number});
}

int FaultInjection::CallsOf(Op op) const {
  return call_counts_[static_cast<size_t>(op)];
}

void FaultInjection::Around(Call& call,
                            const std::function<void()>& operation) {
  calls.push_back(call.op);
  trace.push_back(call);
  const size_t index = trace.size() - 1;
  const int nth = ++call_counts_[static_cast<size_t>(call.op)];
  const int injected_before = injected;
  try {
    if (before_call) before_call(call.op, nth);
    for (const Injection& injection : injections_) {
      const bool hit = injection.overall
                           ? injection.nth == OverallCalls()
                           : injection.op == call.op &&
                                 (injection.onwards ? nth >= injection.nth
                                                    : nth == injection.nth);
      if (hit) {
        ++injected;
        Raise(injection.number);
      }
    }
    operation();
    trace[index].object = call.object;
  } catch (const Failure& failure) {
    trace[index].failed = true;
    trace[index].injected = injected != injected_before;
    trace[index].number = failure.Number;
    throw;
  }
}

}  // namespace shuffler::testing
