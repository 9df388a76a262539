// The failure an operation raises, as a number tests can compare.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace shuffler {

/// The failure `operation` throws; number 0 when it succeeds.
template <typename Operation>
Failure FailureOf(Operation&& operation) {
  try {
    operation();
  } catch (const Failure& failure) {
    return failure;
  }
  return Failure();
}

/// The failure number `operation` throws, or 0 when it succeeds.
template <typename Operation>
int32_t FailureNumberOf(Operation&& operation) {
  return FailureOf(operation).Number;
}

}  // namespace shuffler
