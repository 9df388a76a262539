// The platform most tests run on: the in-memory world, with failure injection
// in front of it.
#pragma once

#include "app/frm_one.h"
#include "tests/memory_platform.h"
#include "tests/platform_wrapper.h"

namespace shuffler::testing {

class FakePlatform : public MemoryWorld, public FaultInjection {
 public:
  FakePlatform() : FaultInjection(memory_) {}

 private:
  MemoryPlatform memory_{*this};
};

/// Runs the startup sequence on `form`; true when it ended the process, as
/// it always should.
bool RunToEnd(frmOne& form);

}  // namespace shuffler::testing
