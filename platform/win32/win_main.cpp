// Shuffler's Windows entry point: a windowless GUI program with a Unicode
// entry. The command line is read by the platform itself.
#include <windows.h>

#include "platform/platform.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/,
                    PWSTR /*command_line*/, int /*show*/) {
  return shuffler::RunShuffler(0, nullptr);
}
