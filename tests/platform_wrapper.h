// Platforms that wrap another: one that forwards every call, and one that
// makes chosen calls fail. Either wraps the in-memory platform or the real
// one alike, so a failure can be injected into a run on real folders too.
#pragma once

#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace shuffler::testing {

/// The platform operations that can fail, as the wrappers count them: the
/// one list that `Op` and `OpName` are made from.
#define SHUFFLER_FALLIBLE_OPS(X)                                               \
  X(ArgumentText), X(ProgramFolder), X(ListFirst), X(ListNext), X(MakeFolder), \
      X(RemoveFolder), X(RenameEntry), X(CreateFileMover), X(MoveFile),        \
      X(OpenLog), X(WriteLogLine), X(CloseLog), X(StartMaximized),             \
      X(RunCommand), X(ShowStopBox), X(ClockSeed), X(FactsOf),                 \
      X(ReadWholeFile), X(ReplaceWholeFile)

enum class Op {
#define SHUFFLER_OP(name) k##name
  SHUFFLER_FALLIBLE_OPS(SHUFFLER_OP),
#undef SHUFFLER_OP
  kCount,  ///< not an operation: the number of kinds
};
const char* OpName(Op op);

/// One call of an operation that can fail.
struct Call {
  explicit Call(Op kind, Text about = {}, Text other = {})
      : op(kind), subject(std::move(about)), object(std::move(other)) {}
  Op op;
  Text subject;  ///< the path, pattern, log line or prompt
  Text object;   ///< the second path, the box's caption, or the name listed
  bool failed = false;
  bool injected = false;  ///< failed by injection
  int32_t number = 0;     ///< the failure's number when it failed
};

/// Forwards every operation to `target`. Each operation that can fail runs
/// through `Around`, which a wrapper overrides to look at or change it. It
/// derives from `Platform` itself, whose operations are all pure: one it
/// does not forward is a compile error, never a silent default.
class PlatformWrapper : public Platform {
 public:
  /// A wrapper of another wrapper is made from it as a `Platform&`: copying
  /// a wrapper is no way to wrap it.
  explicit PlatformWrapper(Platform& target) : target_(target) {}
  PlatformWrapper(const PlatformWrapper&) = delete;
  PlatformWrapper& operator=(const PlatformWrapper&) = delete;

  char16_t Separator() const override { return target_.Separator(); }
  Text ArgumentText() override {
    return Forward(Op::kArgumentText, {}, {},
                   [&] { return target_.ArgumentText(); });
  }
  Text ProgramFolder() override {
    return Forward(Op::kProgramFolder, {}, {},
                   [&] { return target_.ProgramFolder(); });
  }
  bool ClaimFolder(const Text& folder, Claim claim) override {
    return target_.ClaimFolder(folder, claim);
  }
  Text ListFirst(const Text& pattern, ListMask mask) override {
    return Forward(Op::kListFirst, pattern, {},
                   [&] { return target_.ListFirst(pattern, mask); });
  }
  Text ListNext() override {
    return Forward(Op::kListNext, {}, {}, [&] { return target_.ListNext(); });
  }
  /// Called a `kListFirst`, which it is where names hold no wildcards.
  Text FindEntry(const Text& path, ListMask mask) override {
    return Forward(Op::kListFirst, path, {},
                   [&] { return target_.FindEntry(path, mask); });
  }
  Text FolderNameInAnyCase(const Text& folder, const Text& name) override {
    return target_.FolderNameInAnyCase(folder, name);
  }
  void MakeFolder(const Text& path) override {
    Forward(Op::kMakeFolder, path, {}, [&] { target_.MakeFolder(path); });
  }
  void RemoveFolder(const Text& path) override {
    Forward(Op::kRemoveFolder, path, {}, [&] { target_.RemoveFolder(path); });
  }
  void RenameEntry(const Text& old_path, const Text& new_path) override {
    Forward(Op::kRenameEntry, old_path, new_path,
            [&] { target_.RenameEntry(old_path, new_path); });
  }
  std::unique_ptr<FileMover> CreateFileMover() override;
  EntryFacts FactsOf(const Text& path) override {
    EntryFacts facts;
    Forward(Op::kFactsOf, path, {}, [&] { facts = target_.FactsOf(path); });
    return facts;
  }
  std::string ReadWholeFile(const Text& path) override {
    std::string bytes;
    Forward(Op::kReadWholeFile, path, {},
            [&] { bytes = target_.ReadWholeFile(path); });
    return bytes;
  }
  void ReplaceWholeFile(const Text& path, std::string_view bytes) override {
    Forward(Op::kReplaceWholeFile, path, {},
            [&] { target_.ReplaceWholeFile(path, bytes); });
  }
  void OpenLog(const Text& path) override {
    Forward(Op::kOpenLog, path, {}, [&] { target_.OpenLog(path); });
  }
  void WriteLogLine(const Text& line) override {
    Forward(Op::kWriteLogLine, line, {}, [&] { target_.WriteLogLine(line); });
  }
  void CloseLog() override {
    Forward(Op::kCloseLog, {}, {}, [&] { target_.CloseLog(); });
  }
  void StartMaximized(const Text& program, const Text& arguments) override {
    Forward(Op::kStartMaximized, program, arguments,
            [&] { target_.StartMaximized(program, arguments); });
  }
  bool IsOwnProgram(const Text& program) override {
    return target_.IsOwnProgram(program);
  }
  bool StartedByItself() override { return target_.StartedByItself(); }
  bool HasCommand() const override { return target_.HasCommand(); }
  void RunCommand() override {
    Forward(Op::kRunCommand, {}, {}, [&] { target_.RunCommand(); });
  }
  TextView ProgramExtension() const override {
    return target_.ProgramExtension();
  }
  void ShowStopBox(const Text& prompt, const Text& caption) override {
    Forward(Op::kShowStopBox, prompt, caption,
            [&] { target_.ShowStopBox(prompt, caption); });
  }
  /// The clock is read to seed the generator: that read is the call.
  void Randomize() override {
    Forward(Op::kClockSeed, {}, {}, [&] { target_.Randomize(); });
  }
  float NextRandom() override { return target_.NextRandom(); }
  void ProcessMessages() override { target_.ProcessMessages(); }
  [[noreturn]] void EndProcess() override {
    target_.EndProcess();
    std::abort();  // not reached: the target ends the process
  }

 protected:
  /// Runs `operation`, the forwarded `call`. A listing's `operation` fills
  /// in the name listed.
  virtual void Around(Call& call, const std::function<void()>& operation) {
    (void)call;
    operation();
  }

 private:
  // Runs `operation` as the call `op` about `subject` and `object`, through
  // `Around`. A name it gives back is the call's object.
  template <typename Operation>
  auto Forward(Op op, Text subject, Text object, Operation operation)
      -> decltype(operation()) {
    Call call(op, std::move(subject), std::move(object));
    using Result = decltype(operation());
    if constexpr (std::is_void_v<Result>) {
      Around(call, operation);
    } else {
      Result result{};
      Around(call, [&] { call.object = result = operation(); });
      return result;
    }
  }

  Platform& target_;
};

/// Makes chosen calls fail: counts every call of every operation that can
/// fail, and throws the failure asked for instead of forwarding the call.
class FaultInjection : public PlatformWrapper {
 public:
  using PlatformWrapper::PlatformWrapper;

  /// Makes the `nth` call (1-based) of `op` fail with `number`.
  void FailCall(Op op, int nth, int32_t number);
  /// Makes every call of `op` from the `nth` on fail with `number`.
  void FailFrom(Op op, int nth, int32_t number);
  /// Makes the `k`th call of any operation that can fail (1-based, counted
  /// across all kinds) fail with `number`.
  void FailOverallCall(int k, int32_t number);
  /// Called at the start of every operation that can fail, before any
  /// injected failure: may change the folders.
  std::function<void(Op op, int nth)> before_call;

  std::vector<Op> calls;    ///< every operation that could fail, in order
  std::vector<Call> trace;  ///< the same calls, with what each was about
  int injected = 0;         ///< failures injected so far
  int CallsOf(Op op) const;
  int OverallCalls() const { return static_cast<int>(calls.size()); }

 protected:
  void Around(Call& call, const std::function<void()>& operation) override;

 private:
  struct Injection {
    Op op;
    int nth;
    bool onwards;  ///< every call from the nth on
    bool overall;  ///< `nth` counts calls of every kind
    int32_t number;
  };
  std::vector<Injection> injections_;
  std::array<int, static_cast<size_t>(Op::kCount)> call_counts_{};
};

}  // namespace shuffler::testing
