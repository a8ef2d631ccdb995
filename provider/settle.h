// The pauses in which the provider lets the port worker catch up with what
// was just posted to it (a drop sent before the call is reported idle, a
// worker started before it is used).
#pragma once

#include <cstdint>

void QelSettle(std::uint32_t milliseconds);

// Fuzzers drive the provider thousands of times a second; the pauses would
// only slow them. Nothing else may skip them.
void QelSkipSettleForFuzzing(bool skip);
