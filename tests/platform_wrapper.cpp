#include "tests/platform_wrapper.h"

namespace shuffler::testing {

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

 private:
  std::unique_ptr<FileMover> mover_;
  std::function<void(Call&, const std::function<void()>&)> around_;
};

}  // namespace

const char* OpName(Op op) {
  static const char* const kNames[] = {
      "ArgumentText",   "ProgramFolder", "ListFirst",    "ListNext",
      "MakeFolder",     "RemoveFolder",  "RenameEntry",  "CreateFileMover",
      "MoveFile",       "OpenLog",       "WriteLogLine", "CloseLog",
      "StartMaximized", "RunCommand",    "ShowStopBox",  "ClockSeed"};
  static_assert(std::size(kNames) == static_cast<size_t>(Op::kCount));
  const auto index = static_cast<size_t>(op);
  return index < std::size(kNames) ? kNames[index] : "?";
}

Text PlatformWrapper::ArgumentText() {
  Text text;
  Call call(Op::kArgumentText);
  Around(call, [&] { text = target_.ArgumentText(); });
  return text;
}

Text PlatformWrapper::ProgramFolder() {
  Text folder;
  Call call(Op::kProgramFolder);
  Around(call, [&] { folder = target_.ProgramFolder(); });
  return folder;
}

Text PlatformWrapper::ListFirst(const Text& pattern, ListMask mask) {
  Text name;
  Call call(Op::kListFirst, pattern);
  Around(call, [&] { call.object = name = target_.ListFirst(pattern, mask); });
  return name;
}

Text PlatformWrapper::FindEntry(const Text& path, ListMask mask) {
  Text name;
  Call call(Op::kListFirst, path);
  Around(call, [&] { call.object = name = target_.FindEntry(path, mask); });
  return name;
}

Text PlatformWrapper::ListNext() {
  Text name;
  Call call(Op::kListNext);
  Around(call, [&] { call.object = name = target_.ListNext(); });
  return name;
}

void PlatformWrapper::MakeFolder(const Text& path) {
  Call call(Op::kMakeFolder, path);
  Around(call, [&] { target_.MakeFolder(path); });
}

void PlatformWrapper::RemoveFolder(const Text& path) {
  Call call(Op::kRemoveFolder, path);
  Around(call, [&] { target_.RemoveFolder(path); });
}

void PlatformWrapper::RenameEntry(const Text& old_path, const Text& new_path) {
  Call call(Op::kRenameEntry, old_path, new_path);
  Around(call, [&] { target_.RenameEntry(old_path, new_path); });
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

void PlatformWrapper::OpenLog(const Text& path) {
  Call call(Op::kOpenLog, path);
  Around(call, [&] { target_.OpenLog(path); });
}

void PlatformWrapper::WriteLogLine(const Text& line) {
  Call call(Op::kWriteLogLine, line);
  Around(call, [&] { target_.WriteLogLine(line); });
}

void PlatformWrapper::CloseLog() {
  Call call(Op::kCloseLog);
  Around(call, [&] { target_.CloseLog(); });
}

void PlatformWrapper::StartMaximized(const Text& program,
                                     const Text& arguments) {
  Call call(Op::kStartMaximized, program, arguments);
  Around(call, [&] { target_.StartMaximized(program, arguments); });
}

void PlatformWrapper::RunCommand() {
  Call call(Op::kRunCommand);
  Around(call, [&] { target_.RunCommand(); });
}

void PlatformWrapper::ShowStopBox(const Text& prompt, const Text& caption) {
  Call call(Op::kShowStopBox, prompt, caption);
  Around(call, [&] { target_.ShowStopBox(prompt, caption); });
}

// The clock is read to seed the generator: that read is the call.
void PlatformWrapper::Randomize() {
  Call call(Op::kClockSeed);
  Around(call, [&] { target_.Randomize(); });
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
  const int nth = ++call_counts_[static_cast<size_t>(call.op)];
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
}

}  // namespace shuffler::testing
