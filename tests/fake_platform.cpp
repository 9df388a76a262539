#include "tests/fake_platform.h"

namespace shuffler::testing {

bool RunToEnd(frmOne& form) {
  try {
    form.RunStartup();
  } catch (const ProcessEnded&) {
    return true;
  }
  return false;
}

}  // namespace shuffler::testing
