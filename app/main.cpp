// Shuffler's entry: create the platform and the run state, and run the
// startup sequence, which ends the process itself.
#include <cstdio>

#include "app/frm_one.h"
#include "app/usage.h"
#include "platform/platform.h"

namespace shuffler {

int RunShuffler(int argc, char** argv) {
  auto platform = CreateSystemPlatform(argc, argv);
  frmOne form(*platform);
  form.RunStartup();
  return 0;  // not reached: the startup sequence ends the process
}

}  // namespace shuffler

// Platforms with an entry point of their own define SHUFFLER_PLATFORM_ENTRY.
// Elsewhere (POSIX), a question for help or the version is answered on standard
// output, before anything else is done: no file is touched and nothing is
// started.
#ifndef SHUFFLER_PLATFORM_ENTRY
int main(int argc, char** argv) {
  const std::string answer = shuffler::AnswerToQuestion(argc, argv);
  if (!answer.empty()) {
    std::fputs(answer.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  return shuffler::RunShuffler(argc, argv);
}
#endif
