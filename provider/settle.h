// The pauses in which the provider lets the port worker catch up with what
// was just posted to it (a drop sent before the call is reported idle, a
// worker started before it is used).
#pragma once

#include <cstdint>

void QelSettle(std::uint32_t milliseconds);

// Fuzzers drive the provider thousands of times a second; the pauses would
// only slow them. Nothing else may skip them.
void QelSkipSettleForFuzzing(bool skip);

// Where the pause waits for the port worker (thread workerThreadId) and nothing
// else, it ends as soon as the worker is there, within the same bound.

// Until the worker has handled everything posted to it so far. False when the
// bound passed first, or no such worker takes messages.
bool QelAwaitWorker(std::uint32_t workerThreadId, std::uint32_t milliseconds);
// Posts the quit message and waits until the worker has ended (its object
// deleted). False when the bound passed first, or no such worker takes messages.
bool QelQuitWorker(std::uint32_t workerThreadId, std::uint32_t milliseconds);
