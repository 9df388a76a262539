// Shuffler's entry: create the platform and the run state, and run the
// startup sequence, which ends the process itself.
#include "app/frm_one.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  auto platform = shuffler::CreateSystemPlatform(argc, argv);
  shuffler::frmOne form(*platform);
  form.RunStartup();
  return 0;  // not reached: the startup sequence ends the process
}
