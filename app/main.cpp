// Shuffler's entry: create the platform and the run state, and run the
// startup sequence, which ends the process itself.
#include "app/frm_one.h"
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
#ifndef SHUFFLER_PLATFORM_ENTRY
int main(int argc, char** argv) {
  return shuffler::RunShuffler(argc, argv);
}
#endif
