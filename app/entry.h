// The portable body of Shuffler's entry. POSIX enters through main() in
// app/main.cpp; a platform with an entry point of its own (Windows'
// wWinMain) calls this function from there.
#pragma once

namespace shuffler {

/// Creates the system platform and the run state and runs the startup
/// sequence, which ends the process itself.
int RunShuffler(int argc, char** argv);

}  // namespace shuffler
